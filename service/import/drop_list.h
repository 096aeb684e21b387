#pragma once

#include "protocol/search_query.h"

#include <QDate>
#include <QTimeZone>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace yuming::service {

// Drop lists as people get them: one name a line (perhaps with its deletion time), or CSV with a
// header row (perhaps after a title), UTF-8 or GBK, plain, gzip-compressed or in a zip archive.

// Why a line gave no name.
enum class SkipReason : std::uint8_t { BadName, UnsupportedSuffix, BadDate, NoDate, Duplicate };
inline constexpr std::size_t kSkipReasons = 5;
using SkipCounts = std::array<std::int64_t, kSkipReasons>;
std::string_view skipReasonText(SkipReason reason);

// A wall-clock time as seconds from 1970-01-01 00:00:00 of the same clock: day arithmetic without
// any zone consulted, as the service's times are kept.
using WallTime = std::int64_t;
inline constexpr std::int64_t kSecondsPerDay = 86400;

// The Moment text of `time` into `out` (Moment::kTextSize characters, not terminated).
void formatWallTime(WallTime time, char* out);

// The wall clock of one zone at given instants. A list's times fall within a few of the zone's
// spans between transitions, so each span is looked up once.
class ZoneClock {
public:
    // An invalid zone is taken as UTC.
    explicit ZoneClock(const QTimeZone& zone);
    WallTime at(std::int64_t secondsSinceEpoch);

private:
    struct Span {
        std::int64_t from, until;
        int offset;
    };
    QTimeZone m_zone;
    std::vector<Span> m_spans;
};

struct ListTime {
    WallTime time = 0;
    bool hasTimeOfDay = false;
};

// Which way a date's day and month are written: as its list says, or as the file as a whole
// shows (a day over 12 before or after the month), or as the one importing it says.
enum class DateOrder { Auto, MonthFirst, DayFirst };

// yyyy-MM-dd or yyyy/M/d, optionally with a time of day (HH:mm, HH:mm:ss, a fraction) after
// blanks or a 'T', optionally with an offset or Z, which makes it an instant shown on `clock`.
// Also MM/DD/yyyy (DD/MM/yyyy by `order`) and d-Mon-yyyy, whose times of day may end in AM or PM,
// and seconds since 1970 UTC. With `order` Auto, a/b/yyyy is taken only where the numbers say
// which is the month. Nothing when `text` is none of these.
std::optional<ListTime> parseListTime(std::string_view text, ZoneClock& clock,
                                      DateOrder order = DateOrder::Auto);

// How a date written a/b/yyyy may be read: None for other text; Either when a equals b; Both when
// both are at most 12 and differ; else the one order its numbers allow.
enum class SlashFit { None, Either, Both, MonthFirst, DayFirst };
SlashFit slashDateFit(std::string_view text);

// Whether a deletion or expiry may fall on `date`: from 1985-01-01, before any name of these
// lists was registered, to 100 years after `today`. Dates outside are slips or placeholders
// ("0000-01-01"), which would otherwise be shown as a time no one could mean.
bool saneListDate(QDate date, QDate today);

// The one date the name of the file at `path` holds (2026-12-15, 12-15-2026 or 20261215), as a
// published day's list is named; nothing for none, for one that is no sane date, or for two
// that differ.
std::optional<QDate> dateInFileName(std::string_view path, QDate today);

// The days a list is read against.
struct ListDates {
    // What "100 years from now" counts from.
    QDate today;
    // The deletion day of names given without any time (--date); without it a list made only of
    // such names takes the date in its file's name.
    std::optional<QDate> bareDay;
    // How dates written a/b/yyyy are read.
    DateOrder order = DateOrder::Auto;
};

struct ListName {
    char label[63];
    std::uint8_t length = 0;
    Suffix suffix = Com;
    std::string_view view() const { return {label, length}; }
};

// A name as the service keeps it: lower case, without blanks, quotes or a trailing dot around it.
// Why not, when it is none.
std::optional<SkipReason> parseListName(std::string_view text, ListName& name);

// The names of one import, each once, with their times, kept compactly until the database takes
// them.
class ImportedNames {
public:
    struct Row {
        std::uint64_t prefix; // the label's first 8 bytes, big-endian: most comparisons end here
        std::uint32_t offset;
        std::uint8_t length;
        Suffix suffix;
        WallTime expiry;
        WallTime deletion;
    };

    // False, and nothing kept, when the name is there already.
    bool add(std::string_view label, Suffix suffix, WallTime expiry, WallTime deletion);
    // Room for about `rows` names without moving them.
    void reserve(std::size_t rows);
    // New times for the row added `index`-th, before sort().
    void retime(std::size_t index, WallTime expiry, WallTime deletion);
    // Into the order of the database's key (name, then suffix, as bytes). No add() after it.
    void sort();
    std::size_t size() const { return m_rows.size(); }
    const Row& operator[](std::size_t i) const { return m_rows[i]; }
    std::string_view label(const Row& row) const { return {m_labels.data() + row.offset, row.length}; }

private:
    void grow();
    std::vector<Row> m_rows;
    std::vector<char> m_labels;
    // Open addressing: the hash's high half over (row index + 1); 0 is a free slot.
    std::vector<std::uint64_t> m_slots;
};

// A line that gave no name, as it stood in its file.
struct SkippedLine {
    const std::string& file;
    std::int64_t line;
    SkipReason reason;
    std::string_view text;
    bool gbk;
};

class ListObserver {
public:
    virtual ~ListObserver() = default;
    virtual void skipped(const SkippedLine& line) = 0;
    // `bytes` more of the files as stored (compressed, for a gzip file) were read.
    virtual void read(std::uint64_t bytes) = 0;
};

// A list file, opened before any is read, so a missing one fails an import before it begins.
class ListFile {
public:
    explicit ListFile(std::string path);
    ~ListFile();
    ListFile(const ListFile&) = delete;
    ListFile& operator=(const ListFile&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    const std::string& path() const { return m_path; }
    const std::string& error() const { return m_error; }
    // As stored; 0 for what is no regular file (a pipe).
    std::uint64_t size() const { return m_size; }
    int fd() const { return m_fd; }

private:
    std::string m_path;
    std::string m_error;
    int m_fd = -1;
    std::uint64_t m_size = 0;
};

// Reads every line of `file` into `names`, counting the lines skipped. Empty, or why the file
// could not be read to its end or holds only names whose day is known from nowhere.
std::string readDropList(const ListFile& file, ImportedNames& names, ZoneClock& clock, const ListDates& dates,
                         SkipCounts& skipped, ListObserver& observer);

} // namespace yuming::service
