#include "import/drop_list.h"

#include "import/archive_reader.h"

#include "protocol/moment.h"
#include "store/deletion_rule.h"
#include "text/gbk.h"

#include <QDateTime>
#include <QStringDecoder>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace yuming::service {

std::string_view skipReasonText(SkipReason reason) {
    switch (reason) {
    case SkipReason::BadName:
        return "bad name";
    case SkipReason::UnsupportedSuffix:
        return "unsupported suffix";
    case SkipReason::BadDate:
        return "bad date";
    case SkipReason::NoDate:
        return "no date";
    case SkipReason::Duplicate:
        break;
    }
    return "duplicate";
}

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

std::string_view trimmed(std::string_view text, std::string_view strip = " \t\r") {
    const auto first = text.find_first_not_of(strip);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(strip) - first + 1);
}

// `least` to `most` digits from the front of `text`.
bool number(std::string_view& text, std::size_t least, std::size_t most, int& value) {
    std::size_t count = 0;
    value = 0;
    for (; count < most && count < text.size() && isDigit(text[count]); ++count)
        value = value * 10 + (text[count] - '0');
    if (count < least) return false;
    text.remove_prefix(count);
    return true;
}

bool take(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
}

// Z, or +HH, +HHMM, +HH:MM (or '-'), in minutes east of UTC.
bool utcOffset(std::string_view text, int& minutes) {
    if (text == "Z" || text == "z") {
        minutes = 0;
        return true;
    }
    const bool west = take(text, '-');
    if (!west && !take(text, '+')) return false;
    int hours = 0;
    int rest = 0;
    if (!number(text, 2, 2, hours)) return false;
    take(text, ':');
    if (!text.empty() && !number(text, 2, 2, rest)) return false;
    if (!text.empty() || hours > 23 || rest > 59) return false;
    minutes = (west ? -1 : 1) * (hours * 60 + rest);
    return true;
}

} // namespace

void formatWallTime(WallTime time, char* out) {
    std::int64_t days = time / kSecondsPerDay;
    std::int64_t seconds = time % kSecondsPerDay;
    if (seconds < 0) {
        seconds += kSecondsPerDay;
        --days;
    }
    const std::chrono::year_month_day date{std::chrono::sys_days(std::chrono::days(days))};
    // The year's last four digits, as the text has room for.
    const std::uint64_t year = static_cast<unsigned>(static_cast<int>(date.year())) % 10000;
    const std::uint64_t day =
        (year * 100 + static_cast<unsigned>(date.month())) * 100 + static_cast<unsigned>(date.day());
    const auto clock =
        static_cast<std::uint64_t>(seconds / 3600 * 10000 + seconds / 60 % 60 * 100 + seconds % 60);
    Moment::unpack(day * 1'000'000 + clock, out);
}

ZoneClock::ZoneClock(const QTimeZone& zone) : m_zone(zone.isValid() ? zone : QTimeZone::utc()) {}

WallTime ZoneClock::at(std::int64_t seconds) {
    for (const Span& span : m_spans)
        if (seconds >= span.from && seconds < span.until) return seconds + span.offset;
    const QDateTime instant = QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc());
    Span span{std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(),
              m_zone.offsetFromUtc(instant)};
    if (m_zone.hasTransitions()) {
        const auto before = m_zone.previousTransition(instant.addSecs(1));
        const auto after = m_zone.nextTransition(instant);
        if (before.atUtc.isValid()) span.from = before.atUtc.toSecsSinceEpoch();
        if (after.atUtc.isValid()) span.until = after.atUtc.toSecsSinceEpoch();
        // Should the zone's transitions and its offsets ever disagree, this instant stands alone.
        if (before.atUtc.isValid() && before.offsetFromUtc != span.offset)
            span = {seconds, seconds + 1, span.offset};
    }
    if (m_spans.size() < 64) m_spans.push_back(span);
    return seconds + span.offset;
}

namespace {

std::optional<WallTime> midnightOf(int year, int month, int day) {
    const std::chrono::year_month_day date{std::chrono::year(year),
                                           std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok()) return {};
    return std::chrono::sys_days(date).time_since_epoch().count() * kSecondsPerDay;
}

// Jan ... Dec in any case, as 1 ... 12; 0 for anything else.
int monthNamed(std::string_view text) {
    static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                   "jul", "aug", "sep", "oct", "nov", "dec"};
    if (text.size() != 3) return 0;
    const std::string folded{lower(text[0]), lower(text[1]), lower(text[2])};
    for (int i = 0; i < 12; ++i)
        if (kMonths[i] == folded) return i + 1;
    return 0;
}

// " AM" or " PM" after a time of day, as US lists write it.
bool meridiem(std::string_view& text, int& hour) {
    const std::string_view rest = trimmed(text);
    if (rest.size() < 2 || (lower(rest[1]) != 'm') || (lower(rest[0]) != 'a' && lower(rest[0]) != 'p'))
        return true;
    if (hour < 1 || hour > 12) return false;
    hour = hour % 12 + (lower(rest[0]) == 'p' ? 12 : 0);
    text = rest.substr(2);
    return true;
}

// What may follow a date: nothing, or a time of day after blanks or a 'T', then an offset or Z.
std::optional<ListTime> timeAfter(WallTime midnight, std::string_view text, ZoneClock& clock,
                                  bool twelveHour) {
    if (text.empty()) return ListTime{midnight, false};
    if (!take(text, 'T') && !take(text, 't')) {
        if (text.front() != ' ' && text.front() != '\t') return {};
        text = trimmed(text);
    }
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!number(text, 1, 2, hour) || !take(text, ':') || !number(text, 2, 2, minute)) return {};
    if (take(text, ':')) {
        if (!number(text, 2, 2, second)) return {};
        if (take(text, '.') || take(text, ',')) {
            const auto fraction = std::find_if_not(text.begin(), text.end(), isDigit) - text.begin();
            if (fraction == 0) return {};
            text.remove_prefix(static_cast<std::size_t>(fraction));
        }
    }
    if (twelveHour && !meridiem(text, hour)) return {};
    if (hour > 23 || minute > 59 || second > 59) return {};
    const WallTime time = midnight + hour * 3600 + minute * 60 + second;
    text = trimmed(text);
    if (text.empty()) return ListTime{time, true};
    int offset = 0;
    if (!utcOffset(text, offset)) return {};
    return ListTime{clock.at(time - offset * 60), true};
}

// The two numbers of a date written a/b/yyyy, and where its year ends.
bool slashParts(std::string_view text, int& first, int& second, int& year, std::string_view& rest) {
    if (!number(text, 1, 2, first) || !take(text, '/') || !number(text, 1, 2, second) || !take(text, '/') ||
        !number(text, 4, 4, year))
        return false;
    if (!text.empty() && isDigit(text.front())) return false;
    rest = text;
    return true;
}

} // namespace

SlashFit slashDateFit(std::string_view text) {
    int first = 0;
    int second = 0;
    int year = 0;
    std::string_view rest;
    if (!slashParts(text, first, second, year, rest)) return SlashFit::None;
    if (first == second) return SlashFit::Either;
    const bool monthFirst = first >= 1 && first <= 12;
    const bool dayFirst = second >= 1 && second <= 12;
    if (monthFirst && dayFirst) return SlashFit::Both;
    if (monthFirst) return SlashFit::MonthFirst;
    return dayFirst ? SlashFit::DayFirst : SlashFit::None;
}

std::optional<ListTime> parseListTime(std::string_view text, ZoneClock& clock, DateOrder order) {
    int year = 0;
    int month = 0;
    int day = 0;
    if (!text.empty() && std::all_of(text.begin(), text.end(), isDigit)) {
        // Seconds since 1970 UTC, an instant; longer numbers are no time of these lists.
        if (text.size() > 12) return {};
        std::int64_t seconds = 0;
        for (const char c : text)
            seconds = seconds * 10 + (c - '0');
        return ListTime{clock.at(seconds), true};
    }
    std::string_view rest = text;
    if (number(rest, 4, 4, year) && !rest.empty() && (rest.front() == '-' || rest.front() == '/')) {
        const char separator = rest.front();
        rest.remove_prefix(1);
        if (!number(rest, 1, 2, month) || !take(rest, separator) || !number(rest, 1, 2, day)) return {};
        const auto midnight = midnightOf(year, month, day);
        return midnight ? timeAfter(*midnight, rest, clock, false) : std::nullopt;
    }
    int first = 0;
    int second = 0;
    if (slashParts(text, first, second, year, rest)) {
        if (order == DateOrder::Auto) {
            const SlashFit fit = slashDateFit(text);
            if (fit == SlashFit::Both || fit == SlashFit::None) return {};
            order = fit == SlashFit::DayFirst ? DateOrder::DayFirst : DateOrder::MonthFirst;
        }
        if (order == DateOrder::DayFirst) std::swap(first, second);
        const auto midnight = midnightOf(year, first, second);
        return midnight ? timeAfter(*midnight, rest, clock, true) : std::nullopt;
    }
    rest = text;
    if (!number(rest, 1, 2, day) || !take(rest, '-')) return {};
    month = monthNamed(rest.substr(0, 3));
    rest.remove_prefix(std::min<std::size_t>(3, rest.size()));
    if (month == 0 || !take(rest, '-') || !number(rest, 4, 4, year)) return {};
    if (!rest.empty() && isDigit(rest.front())) return {};
    const auto midnight = midnightOf(year, month, day);
    return midnight ? timeAfter(*midnight, rest, clock, true) : std::nullopt;
}

namespace {

constexpr qint64 kJulianDayOfEpoch = 2440588;

WallTime midnightOf(QDate date) {
    return (date.toJulianDay() - kJulianDayOfEpoch) * kSecondsPerDay;
}

QDate latestListDate(QDate today) {
    return (today.isValid() ? today : QDate::currentDate()).addYears(100);
}

// `count` digits at `at` of `text`, as a number.
bool digitsAt(std::string_view text, std::size_t at, std::size_t count, int& value) {
    if (at + count > text.size()) return false;
    std::string_view part = text.substr(at, count);
    return number(part, count, count, value);
}

// A date written at `at` in one of the forms list files are named with; where it ends in `end`.
std::optional<QDate> fileNameDateAt(std::string_view text, std::size_t at, std::size_t& end) {
    int year = 0;
    int month = 0;
    int day = 0;
    const auto dash = [&](std::size_t i) { return i < text.size() && text[i] == '-'; };
    if (digitsAt(text, at, 4, year) && dash(at + 4) && digitsAt(text, at + 5, 2, month) && dash(at + 7) &&
        digitsAt(text, at + 8, 2, day))
        end = at + 10;
    else if (digitsAt(text, at, 2, month) && dash(at + 2) && digitsAt(text, at + 3, 2, day) && dash(at + 5) &&
             digitsAt(text, at + 6, 4, year))
        end = at + 10;
    else if (digitsAt(text, at, 4, year) && digitsAt(text, at + 4, 2, month) &&
             digitsAt(text, at + 6, 2, day))
        end = at + 8;
    else
        return std::nullopt;
    // Part of a longer number (a serial, a size) is no date.
    if (end < text.size() && isDigit(text[end])) return std::nullopt;
    const QDate date(year, month, day);
    return date.isValid() ? std::optional(date) : std::nullopt;
}

} // namespace

bool saneListDate(QDate date, QDate today) {
    return date.isValid() && date >= QDate(1985, 1, 1) && date <= latestListDate(today);
}

std::optional<QDate> dateInFileName(std::string_view path, QDate today) {
    const auto slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    std::optional<QDate> found;
    for (std::size_t at = 0; at < name.size(); ++at) {
        if (!isDigit(name[at]) || (at > 0 && isDigit(name[at - 1]))) continue;
        std::size_t end = at;
        const auto date = fileNameDateAt(name, at, end);
        if (!date || !saneListDate(*date, today)) continue;
        if (found && *found != *date) return std::nullopt;
        found = date;
    }
    return found;
}

namespace {

// Labels under a dot, as another suffix would be written: the name is fine, its suffix is not ours.
bool looksLikeSuffix(std::string_view text) {
    if (text.empty() || text.front() == '.' || text.back() == '.' ||
        text.find("..") != std::string_view::npos)
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        c = lower(c);
        return (c >= 'a' && c <= 'z') || isDigit(c) || c == '-' || c == '.';
    });
}

bool equalsFolded(std::string_view text, std::string_view lowerCase) {
    return text.size() == lowerCase.size() && std::equal(text.begin(), text.end(), lowerCase.begin(),
                                                         [](char a, char b) { return lower(a) == b; });
}

} // namespace

std::optional<SkipReason> parseListName(std::string_view text, ListName& name) {
    text = trimmed(text, " \t\r\"'");
    if (!text.empty() && text.back() == '.') text.remove_suffix(1);
    const auto dot = text.find('.');
    if (dot == std::string_view::npos || dot == 0 || dot > sizeof name.label) return SkipReason::BadName;
    for (std::size_t i = 0; i < dot; ++i) {
        const char c = lower(text[i]);
        if (!((c >= 'a' && c <= 'z') || isDigit(c) || c == '-')) return SkipReason::BadName;
        name.label[i] = c;
    }
    if (text.front() == '-' || text[dot - 1] == '-') return SkipReason::BadName;
    name.length = static_cast<std::uint8_t>(dot);
    const std::string_view suffix = text.substr(dot + 1);
    for (Suffix s : {Com, Net, Org, Cn})
        if (equalsFolded(suffix, suffixName(s))) {
            name.suffix = s;
            return std::nullopt;
        }
    return looksLikeSuffix(suffix) ? SkipReason::UnsupportedSuffix : SkipReason::BadName;
}

namespace {

std::uint64_t hashOf(std::string_view label, Suffix suffix) {
    std::uint64_t h = 0xcbf29ce484222325ull ^ suffix;
    for (const char c : label)
        h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    // FNV leaves the high bits, which pick nothing here, weakly mixed.
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return h;
}

constexpr std::uint64_t kIndexBits = 0xffffffffull;

} // namespace

void ImportedNames::reserve(std::size_t rows) {
    m_rows.reserve(rows);
    m_labels.reserve(rows * 12);
    while (m_slots.size() * 7 < rows * 10)
        grow();
}

void ImportedNames::grow() {
    std::vector<std::uint64_t> table(std::max<std::size_t>(1024, m_slots.size() * 2), 0);
    const std::size_t mask = table.size() - 1;
    for (std::size_t index = 0; index < m_rows.size(); ++index) {
        const std::uint64_t hash = hashOf(label(m_rows[index]), m_rows[index].suffix);
        std::size_t at = hash & mask;
        while (table[at] != 0)
            at = (at + 1) & mask;
        table[at] = (hash & ~kIndexBits) | (index + 1);
    }
    m_slots = std::move(table);
}

bool ImportedNames::add(std::string_view label, Suffix suffix, WallTime expiry, WallTime deletion) {
    if (m_rows.size() + 1 >= kIndexBits || m_labels.size() + label.size() > kIndexBits)
        throw std::length_error("more names than one import takes");
    if ((m_rows.size() + 1) * 10 > m_slots.size() * 7) grow();
    const std::uint64_t hash = hashOf(label, suffix);
    const std::size_t mask = m_slots.size() - 1;
    std::size_t at = hash & mask;
    for (; m_slots[at] != 0; at = (at + 1) & mask) {
        if ((m_slots[at] & ~kIndexBits) != (hash & ~kIndexBits)) continue;
        const Row& row = m_rows[(m_slots[at] & kIndexBits) - 1];
        if (row.suffix == suffix && this->label(row) == label) return false;
    }
    std::uint64_t prefix = 0;
    for (std::size_t i = 0; i < 8; ++i)
        prefix = prefix << 8 | (i < label.size() ? static_cast<unsigned char>(label[i]) : 0u);
    m_slots[at] = (hash & ~kIndexBits) | (m_rows.size() + 1);
    m_rows.push_back({prefix, static_cast<std::uint32_t>(m_labels.size()),
                      static_cast<std::uint8_t>(label.size()), suffix, expiry, deletion});
    m_labels.insert(m_labels.end(), label.begin(), label.end());
    return true;
}

void ImportedNames::retime(std::size_t index, WallTime expiry, WallTime deletion) {
    m_rows[index].expiry = expiry;
    m_rows[index].deletion = deletion;
}

void ImportedNames::sort() {
    std::vector<std::uint64_t>().swap(m_slots);
    // Names hold no zero bytes, so equal prefixes of two names of up to 8 bytes mean equal names.
    std::sort(m_rows.begin(), m_rows.end(), [this](const Row& a, const Row& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        const std::string_view left = label(a);
        const std::string_view right = label(b);
        if (left != right) return left < right;
        return suffixName(a.suffix) < suffixName(b.suffix);
    });
}

ListFile::ListFile(std::string path) : m_path(std::move(path)) {
    m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0) {
        m_error = std::strerror(errno);
    } else if (S_ISDIR(info.st_mode)) {
        m_error = "a folder, not a file";
    } else {
        m_size = S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
        return;
    }
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

ListFile::~ListFile() {
    if (m_fd >= 0) ::close(m_fd);
}

namespace {

constexpr std::size_t kPieceSize = 1 << 20;

// Reads until the buffer is full or the file ends.
bool fill(int fd, std::vector<char>& buffer, std::size_t& filled, std::string& error) {
    filled = 0;
    while (filled < buffer.size()) {
        const ssize_t got = ::read(fd, buffer.data() + filled, buffer.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    return true;
}

enum class Column { Other, Domain, Deletion, Expiry, Status };

// A header cell: case, blanks, quotes, '_' and '-' do not matter ("Delete Date", "DeleteDate" and
// "delete_date" are one). An auction's end ("End Date") is no deletion time: it is another column.
Column columnOf(std::string_view cell, bool gbk) {
    const std::string utf8 =
        gbk ? fromGbk(QByteArrayView(cell.data(), static_cast<qsizetype>(cell.size()))).toUtf8().toStdString()
            : std::string(cell);
    std::string key;
    for (const char c : trimmed(utf8, " \t\r\"'"))
        if (c != '_' && c != '-' && c != ' ' && c != '\t') key += lower(c);
    static constexpr std::pair<std::string_view, Column> kKnown[] = {
        {"domain", Column::Domain},         {"name", Column::Domain},
        {"domainname", Column::Domain},     {"域名", Column::Domain},
        {"deletion", Column::Deletion},     {"delete", Column::Deletion},
        {"drop", Column::Deletion},         {"deletiondate", Column::Deletion},
        {"deletedate", Column::Deletion},   {"dropdate", Column::Deletion},
        {"deletiontime", Column::Deletion}, {"deletetime", Column::Deletion},
        {"droptime", Column::Deletion},     {"删除时间", Column::Deletion},
        {"删除日期", Column::Deletion},     {"expiry", Column::Expiry},
        {"expiration", Column::Expiry},     {"expires", Column::Expiry},
        {"expirydate", Column::Expiry},     {"expirationdate", Column::Expiry},
        {"expirytime", Column::Expiry},     {"expirationtime", Column::Expiry},
        {"到期时间", Column::Expiry},       {"过期时间", Column::Expiry},
        {"到期日期", Column::Expiry},       {"过期日期", Column::Expiry},
        {"status", Column::Status},         {"状态", Column::Status},
    };
    for (const auto& [text, column] : kKnown)
        if (key == text) return column;
    return Column::Other;
}

// Splits one CSV record (RFC 4180 quoting) into `fields`, which may point into `scratch`. False
// when a quoted field is still open at the end: the record goes on on the next line.
bool splitRecord(std::string_view record, char delimiter, std::vector<std::string_view>& fields,
                 std::string& scratch) {
    fields.clear();
    scratch.clear();
    scratch.reserve(record.size()); // views into it stay valid
    std::size_t i = 0;
    const std::size_t n = record.size();
    for (;;) {
        std::size_t start = i;
        while (i < n && record[i] == ' ')
            ++i;
        if (i < n && record[i] == '"') {
            const std::size_t from = scratch.size();
            bool closed = false;
            for (++i; i < n; ++i) {
                if (record[i] != '"') {
                    scratch += record[i];
                } else if (i + 1 < n && record[i + 1] == '"') {
                    scratch += '"';
                    ++i;
                } else {
                    closed = true;
                    ++i;
                    break;
                }
            }
            if (!closed) return false;
            for (; i < n && record[i] != delimiter; ++i)
                scratch += record[i];
            fields.emplace_back(scratch.data() + from, scratch.size() - from);
        } else {
            i = std::min(record.find(delimiter, start), n);
            fields.push_back(record.substr(start, i - start));
        }
        if (i >= n) return true;
        ++i;
    }
}

// A quoted field may run over this many lines; one still open after them was a stray quote.
constexpr std::size_t kMostLinesPerRecord = 16;
// A longer line is no line of a drop list (a file without line ends, say).
constexpr std::size_t kLongestLine = 64 * 1024;
// Lines of a title a CSV header may stand under.
constexpr std::size_t kLongestPreamble = 20;

class ListParser {
public:
    // `namedDay`: the one date in the name of the file the list is in.
    ListParser(const std::string& file, std::optional<QDate> namedDay, ImportedNames& names, ZoneClock& clock,
               const ListDates& dates, SkipCounts& skipped, ListObserver& observer)
        : m_file(file), m_names(names), m_clock(clock), m_skipped(skipped), m_observer(observer),
          m_earliest(midnightOf(QDate(1985, 1, 1))),
          m_latest(midnightOf(latestListDate(dates.today)) + kSecondsPerDay - 1), m_order(dates.order) {
        if (dates.bareDay) {
            m_bareDay = midnightOf(*dates.bareDay);
        } else if (namedDay) {
            m_bareDay = midnightOf(*namedDay);
            m_bareDayFromName = true;
        }
    }

    // A list of names alone, each without any time, and no day to give them.
    bool lacksItsDay() const { return m_bare && !m_dated && !m_bareDay; }
    // The column whose dates never said which of their numbers is the month; empty when none.
    const std::string& undecidedColumn() const {
        static const std::string kNone;
        return m_order == DateOrder::Auto && !m_alternates.empty() ? m_openColumn : kNone;
    }

    // Looks at the start of the text; an error when it is no text a list could be in.
    std::string begin(std::string_view& first) {
        if (first.starts_with("\xef\xbb\xbf")) {
            first.remove_prefix(3);
        } else if (first.starts_with("\xff\xfe") || first.starts_with("\xfe\xff")) {
            return "UTF-16 text, not read: save it as UTF-8 or GBK";
        } else if (first.starts_with("PK\x03\x04")) {
            return "a zip archive (a spreadsheet?), not a list: save it as CSV";
        }
        // Names are ASCII; the encoding matters for a header's Chinese column names.
        QStringDecoder utf8(QStringDecoder::Utf8);
        [[maybe_unused]] const QString decoded =
            utf8.decode(QByteArrayView(first.data(), static_cast<qsizetype>(first.size())));
        m_gbk = utf8.hasError();
        return {};
    }

    void feed(std::string_view piece) {
        while (!piece.empty()) {
            const auto end = piece.find('\n');
            const std::string_view part = piece.substr(0, end);
            if (end == std::string_view::npos) {
                carry(part);
                return;
            }
            if (m_carry.empty()) {
                physicalLine(part);
            } else {
                carry(part);
                physicalLine(m_carry);
                m_carry.clear();
            }
            piece.remove_prefix(end + 1);
        }
    }

    void finish() {
        if (!m_carry.empty() || m_overlong) physicalLine(m_carry);
        m_carry.clear();
        if (m_layout == Layout::Unknown && !m_preamble.empty()) plainAfterAll();
        if (!m_open.empty()) giveUpOpenRecord();
        // No line had a time: the whole list is the named day's.
        for (const Pending& p : m_pending)
            takeBare(p.line, std::string_view(m_pendingText).substr(p.record, p.recordSize),
                     std::string_view(m_pendingText).substr(p.name, p.nameSize));
        m_pending.clear();
        m_pendingText.clear();
    }

private:
    void carry(std::string_view part) {
        if (m_carry.size() + part.size() > kLongestLine) {
            m_overlong = true;
            part = part.substr(0, kLongestLine - std::min(kLongestLine, m_carry.size()));
        }
        m_carry.append(part);
    }

    void physicalLine(std::string_view line) {
        ++m_lineNo;
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (m_overlong || line.size() > kLongestLine) {
            m_overlong = false;
            skip(SkipReason::BadName, m_lineNo, line.substr(0, 200));
            return;
        }
        if (!m_open.empty()) {
            m_open.push_back({m_lineNo, std::string(line)});
            std::string joined;
            for (const auto& [no, text] : m_open)
                joined += (joined.empty() ? "" : "\n") + text;
            if (splitRecord(joined, m_delimiter, m_fields, m_scratch)) {
                const std::int64_t first = m_open.front().first;
                m_open.clear();
                csvRecord(first, joined);
            } else if (m_open.size() >= kMostLinesPerRecord) {
                giveUpOpenRecord();
            }
            return;
        }
        const std::string_view content = trimmed(line);
        if (content.empty() || content.front() == '#') return;
        if (m_layout == Layout::Unknown) {
            if (header(line)) {
                // What stood above the header was the list's title, not names.
                m_layout = Layout::Csv;
                m_preamble.clear();
                return;
            }
            if (!startsWithAName(line) && m_preamble.size() < kLongestPreamble) {
                m_preamble.push_back({m_lineNo, std::string(line)});
                return;
            }
            plainAfterAll();
        }
        if (m_layout == Layout::Plain) {
            plainLine(m_lineNo, line);
        } else if (splitRecord(line, m_delimiter, m_fields, m_scratch)) {
            csvRecord(m_lineNo, line);
        } else {
            m_open.push_back({m_lineNo, std::string(line)});
        }
    }

    // Lines that were neither a header nor a name: a plain list's lines after all, read as such.
    void plainAfterAll() {
        m_layout = Layout::Plain;
        for (const auto& [no, text] : std::exchange(m_preamble, {}))
            plainLine(no, text);
    }

    // Whether the line's first word is a name (of any suffix): the line belongs to a plain list.
    static bool startsWithAName(std::string_view line) {
        const std::string_view rest = trimmed(line);
        ListName name;
        const auto why = parseListName(rest.substr(0, rest.find_first_of(" \t,")), name);
        return !why || *why == SkipReason::UnsupportedSuffix;
    }

    // The first line of a record whose quote never closed is read as if it closed at its end; the
    // lines after it are read again on their own.
    void giveUpOpenRecord() {
        auto lines = std::move(m_open);
        m_open.clear();
        const std::string closed = lines.front().second + '"';
        splitRecord(closed, m_delimiter, m_fields, m_scratch);
        csvRecord(lines.front().first, lines.front().second);
        const std::int64_t resume = m_lineNo;
        for (std::size_t i = 1; i < lines.size(); ++i) {
            m_lineNo = lines[i].first - 1;
            physicalLine(lines[i].second);
        }
        m_lineNo = resume;
    }

    bool header(std::string_view line) {
        for (const char delimiter : {',', '\t', ';'}) {
            if (!splitRecord(line, delimiter, m_fields, m_scratch)) continue;
            int domain = -1;
            int deletion = -1;
            int expiry = -1;
            for (int i = 0; i < static_cast<int>(m_fields.size()); ++i) {
                int* slot = nullptr;
                switch (columnOf(m_fields[static_cast<std::size_t>(i)], m_gbk)) {
                case Column::Domain:
                    slot = &domain;
                    break;
                case Column::Deletion:
                    slot = &deletion;
                    break;
                case Column::Expiry:
                    slot = &expiry;
                    break;
                case Column::Status:
                case Column::Other:
                    break;
                }
                if (slot && *slot < 0) *slot = i;
            }
            if (domain < 0) continue;
            m_delimiter = delimiter;
            m_domain = domain;
            m_deletion = deletion;
            m_expiry = expiry;
            m_deletionName = cellText(field(deletion));
            m_expiryName = cellText(field(expiry));
            return true;
        }
        return false;
    }

    std::string cellText(std::string_view cell) const {
        return m_gbk ? fromGbk(QByteArrayView(cell.data(), static_cast<qsizetype>(cell.size()))).toStdString()
                     : std::string(cell);
    }

    std::string_view field(int index) const {
        return index >= 0 && static_cast<std::size_t>(index) < m_fields.size()
                   ? trimmed(m_fields[static_cast<std::size_t>(index)], " \t\r\"'")
                   : std::string_view{};
    }

    void csvRecord(std::int64_t lineNo, std::string_view record) {
        take(lineNo, record, field(m_domain), field(m_deletion), field(m_expiry));
    }

    // The name, then its deletion time after a tab, a comma or blanks.
    void plainLine(std::int64_t lineNo, std::string_view line) {
        const std::string_view rest = trimmed(line);
        const auto end = std::min(rest.find_first_of(" \t,"), rest.size());
        std::string_view time = rest.substr(end);
        time.remove_prefix(std::min(time.find_first_not_of(" \t,"), time.size()));
        time = trimmed(time.substr(0, time.find_first_of("\t,")), " \t\r\"'");
        take(lineNo, line, rest.substr(0, end), time, {});
    }

    void take(std::int64_t lineNo, std::string_view record, std::string_view nameText,
              std::string_view deletionText, std::string_view expiryText) {
        ListName name;
        if (const auto why = parseListName(nameText, name)) return skip(*why, lineNo, record);
        if (deletionText.empty() && expiryText.empty()) return bareName(lineNo, record, nameText);
        dated();
        bool open = false;
        if (m_order == DateOrder::Auto) {
            const bool deletionOpen = undecided(deletionText, m_deletionName, 2);
            open = undecided(expiryText, m_expiryName, 3) || deletionOpen;
        }
        // Until a date of the file says which number is the month, an a/b/yyyy date is read month
        // first and kept as read day first too.
        const DateOrder order = m_order == DateOrder::Auto && open ? DateOrder::MonthFirst : m_order;
        WallTime deletion = 0;
        WallTime expiry = 0;
        if (!times(name.suffix, deletionText, expiryText, order, deletion, expiry))
            return skip(SkipReason::BadDate, lineNo, record);
        if (!keep(lineNo, record, name, deletion, expiry) || !open || m_order != DateOrder::Auto) return;
        WallTime dayFirstDeletion = deletion;
        WallTime dayFirstExpiry = expiry;
        if (!times(name.suffix, deletionText, expiryText, DateOrder::DayFirst, dayFirstDeletion,
                   dayFirstExpiry)) {
            dayFirstDeletion = deletion;
            dayFirstExpiry = expiry;
        }
        m_alternates.push_back({m_names.size() - 1, dayFirstExpiry, dayFirstDeletion});
    }

    // Whether `text` leaves the file's order open; a date that settles it settles it for the file.
    bool undecided(std::string_view text, const std::string& column, int position) {
        const SlashFit fit = slashDateFit(text);
        if (fit == SlashFit::Both) {
            if (m_openColumn.empty())
                m_openColumn = !column.empty() ? column : "column " + std::to_string(position);
            return true;
        }
        if (fit != SlashFit::MonthFirst && fit != SlashFit::DayFirst) return false;
        const DateOrder order = fit == SlashFit::MonthFirst ? DateOrder::MonthFirst : DateOrder::DayFirst;
        if (!parseListTime(text, m_clock, order)) return false;
        m_order = order;
        if (order == DateOrder::DayFirst)
            for (const Alternate& a : m_alternates)
                m_names.retime(a.row, a.expiry, a.deletion);
        m_alternates.clear();
        return false;
    }

    // The name's times from its columns; false when one is no date, or none a list could mean.
    bool times(Suffix suffix, std::string_view deletionText, std::string_view expiryText, DateOrder order,
               WallTime& deletion, WallTime& expiry) {
        // A date alone is taken at the time of day its suffix's names are deleted.
        const auto timeOf = [&](std::string_view text, std::optional<WallTime>& out) {
            if (text.empty()) return true;
            const auto time = parseListTime(text, m_clock, order);
            if (!time) return false;
            out = time->time + (time->hasTimeOfDay ? 0 : deletionTime(suffix).msecsSinceStartOfDay() / 1000);
            return *out >= m_earliest && *out <= m_latest;
        };
        std::optional<WallTime> deletionAt;
        std::optional<WallTime> expiryAt;
        if (!timeOf(deletionText, deletionAt) || !timeOf(expiryText, expiryAt)) return false;
        deletion = deletionAt ? *deletionAt : estimated(*expiryAt, suffix);
        expiry = expiryAt ? *expiryAt : deletion - deletionDay(suffix) * kSecondsPerDay;
        return true;
    }

    bool keep(std::int64_t lineNo, std::string_view record, const ListName& name, WallTime deletion,
              std::optional<WallTime> expiry) {
        if (!expiry) expiry = deletion - deletionDay(name.suffix) * kSecondsPerDay;
        if (m_names.add(name.view(), name.suffix, *expiry, deletion)) return true;
        skip(SkipReason::Duplicate, lineNo, record);
        return false;
    }

    // A name without any time: the day given for the import, or the day its file is named for
    // once the file turns out to be names alone; until then it waits. In a list that gives
    // other names their times it has none.
    void bareName(std::int64_t lineNo, std::string_view record, std::string_view nameText) {
        m_bare = true;
        if (m_bareDay && !m_bareDayFromName) return takeBare(lineNo, record, nameText);
        if (!m_bareDay || m_dated) return skip(SkipReason::NoDate, lineNo, record);
        m_pending.push_back({lineNo, m_pendingText.size(), record.size(),
                             m_pendingText.size() + record.size(), nameText.size()});
        m_pendingText.append(record).append(nameText);
    }

    void takeBare(std::int64_t lineNo, std::string_view record, std::string_view nameText) {
        ListName name;
        parseListName(nameText, name);
        keep(lineNo, record, name, *m_bareDay + deletionTime(name.suffix).msecsSinceStartOfDay() / 1000, {});
    }

    // A line with a time: the names before it that had none were not the day's list after all.
    void dated() {
        if (m_dated) return;
        m_dated = true;
        for (const Pending& p : m_pending)
            skip(SkipReason::NoDate, p.line, std::string_view(m_pendingText).substr(p.record, p.recordSize));
        m_pending.clear();
        m_pendingText.clear();
    }

    static WallTime estimated(WallTime expiry, Suffix suffix) {
        const std::int64_t days = expiry / kSecondsPerDay - (expiry % kSecondsPerDay < 0 ? 1 : 0);
        const Moment from{
            QDate::fromJulianDay(days + kJulianDayOfEpoch),
            QTime::fromMSecsSinceStartOfDay(static_cast<int>(expiry - days * kSecondsPerDay) * 1000)};
        const Moment deletion = deletionEstimate(from, suffix);
        return (deletion.date.toJulianDay() - kJulianDayOfEpoch) * kSecondsPerDay +
               deletion.time.msecsSinceStartOfDay() / 1000;
    }

    void skip(SkipReason reason, std::int64_t lineNo, std::string_view text) {
        ++m_skipped[static_cast<std::size_t>(reason)];
        m_observer.skipped({m_file, lineNo, reason, text, m_gbk});
    }

    enum class Layout { Unknown, Plain, Csv };
    const std::string& m_file;
    ImportedNames& m_names;
    ZoneClock& m_clock;
    SkipCounts& m_skipped;
    ListObserver& m_observer;
    bool m_gbk = false;
    Layout m_layout = Layout::Unknown;
    char m_delimiter = ',';
    int m_domain = -1;
    int m_deletion = -1;
    int m_expiry = -1;
    std::int64_t m_lineNo = 0;
    std::string m_carry;
    bool m_overlong = false;
    std::vector<std::pair<std::int64_t, std::string>> m_open;
    std::vector<std::string_view> m_fields;
    std::string m_scratch;
    const WallTime m_earliest;
    const WallTime m_latest;
    std::optional<WallTime> m_bareDay; // its midnight
    bool m_bareDayFromName = false;
    bool m_bare = false;  // a name without any time was read
    bool m_dated = false; // a name with a time was read
    // Names without a time waiting for the end of a file named for a day: where each one's line
    // and name text stand in m_pendingText.
    struct Pending {
        std::int64_t line;
        std::size_t record, recordSize, name, nameSize;
    };
    std::vector<Pending> m_pending;
    std::string m_pendingText;
    // Lines before the layout is known that were no name: a title above a header, or bad lines.
    std::vector<std::pair<std::int64_t, std::string>> m_preamble;
    DateOrder m_order;
    std::string m_deletionName;
    std::string m_expiryName;
    std::string m_openColumn;
    // The times of names read month first, as they are read day first.
    struct Alternate {
        std::size_t row;
        WallTime expiry, deletion;
    };
    std::vector<Alternate> m_alternates;
};

} // namespace

namespace {

// The end of one list: what makes it unusable as a whole, if anything.
std::string ended(ListParser& parser, const std::string& label) {
    parser.finish();
    if (parser.lacksItsDay())
        return label + ": a list of bare names needs --date YYYY-MM-DD (or one date in the file's name)";
    if (const std::string& column = parser.undecidedColumn(); !column.empty())
        return label + ": every date in " + column +
               " may be read month first or day first: say which with --date-order mdy or dmy";
    return {};
}

std::string readArchive(const ListFile& file, std::string_view first, Packing packing, ImportedNames& names,
                        ZoneClock& clock, const ListDates& dates, SkipCounts& skipped,
                        ListObserver& observer) {
    ArchiveReader reader(file.fd(), first, packing);
    std::size_t members = 0;
    std::string member;
    while (reader.nextMember(member)) {
        ++members;
        const bool zip = packing == Packing::Zip;
        const std::string label = zip ? file.path() + ':' + member : file.path();
        std::optional<QDate> namedDay = zip ? dateInFileName(member, dates.today) : std::nullopt;
        if (!namedDay) namedDay = dateInFileName(file.path(), dates.today);
        ListParser parser(label, namedDay, names, clock, dates, skipped, observer);
        for (bool start = true;; start = false) {
            std::string_view piece;
            const bool ok = reader.next(piece);
            observer.read(reader.takeStored());
            if (!ok) return file.path() + ": " + reader.error();
            if (piece.empty()) break;
            if (start) {
                const std::string error = parser.begin(piece);
                if (!error.empty()) return label + ": " + error;
            }
            parser.feed(piece);
        }
        if (std::string error = ended(parser, label); !error.empty()) return error;
    }
    observer.read(reader.takeStored());
    if (!reader.error().empty()) return file.path() + ": " + reader.error();
    if (packing == Packing::Zip && members == 0)
        return file.path() +
               ": a zip archive without a CSV or text file in it (a spreadsheet? save it as CSV)";
    return {};
}

} // namespace

std::string readDropList(const ListFile& file, ImportedNames& names, ZoneClock& clock, const ListDates& dates,
                         SkipCounts& skipped, ListObserver& observer) {
    std::vector<char> buffer(kPieceSize);
    std::size_t filled = 0;
    std::string error;
    if (!fill(file.fd(), buffer, filled, error)) return "cannot read " + file.path() + ": " + error;
    observer.read(filled);
    std::string_view piece(buffer.data(), filled);
    const Packing packing = packingOf(piece);
    if (packing != Packing::Plain)
        return readArchive(file, piece, packing, names, clock, dates, skipped, observer);
    ListParser parser(file.path(), dateInFileName(file.path(), dates.today), names, clock, dates, skipped,
                      observer);
    if (!piece.empty()) {
        error = parser.begin(piece);
        if (!error.empty()) return file.path() + ": " + error;
    }
    while (!piece.empty()) {
        parser.feed(piece);
        if (!fill(file.fd(), buffer, filled, error)) return "cannot read " + file.path() + ": " + error;
        observer.read(filled);
        piece = {buffer.data(), filled};
    }
    return ended(parser, file.path());
}

} // namespace yuming::service
