#pragma once

#include "store/read_result.h"

#include <QDate>

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

struct sqlite3;

namespace yuming::service {

// Generated names' dates are kept as they were on the day meta `dated` names (an older build
// that opens the file moves them from there itself); they are shown as of meta `shown`, the day
// the service last started. Readers add the days between the two to every generated name's
// dates instead of the rows being rewritten each day.

// The days from `dated` to `shown`, or to `shownOn` when given; 0 when either is missing.
ReadResult<int> shownShift(sqlite3* db, std::optional<QDate> shownOn = {});

// `text` (yyyy-MM-dd, then anything) with its day moved by `days`; unchanged when it does not
// begin with a day. The rest of the text, the time of day, stays as it is.
std::string movedByDays(std::string_view text, int days);

// Moves date texts by a fixed number of days, remembering each day it moved: the names of a drop
// list share a few hundred days between millions of rows.
class DayMover {
public:
    explicit DayMover(int days) : m_days(days) {}
    int days() const { return m_days; }
    // `text` moved, in a buffer of the mover's, valid until the next call.
    std::string_view operator()(std::string_view text);

private:
    int m_days;
    std::unordered_map<std::string, std::string> m_moved;
    std::string m_out;
};

} // namespace yuming::service
