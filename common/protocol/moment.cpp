#include "protocol/moment.h"

#include <cstdio>

namespace yuming {
namespace {

constexpr std::string_view kShape = "0000-00-00 00:00:00";

} // namespace

std::optional<Moment> Moment::parse(std::string_view text) {
    if (text.size() != kShape.size()) return std::nullopt;
    int fields[6] = {};
    int field = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (kShape[i] != '0') {
            if (text[i] != kShape[i]) return std::nullopt;
            ++field;
            continue;
        }
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        fields[field] = fields[field] * 10 + (text[i] - '0');
    }
    const Moment moment{QDate(fields[0], fields[1], fields[2]), QTime(fields[3], fields[4], fields[5])};
    if (!moment.isValid()) return std::nullopt;
    return moment;
}

std::string Moment::text() const {
    char out[32];
    std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", date.year(), date.month(), date.day(),
                  time.hour(), time.minute(), time.second());
    return out;
}

} // namespace yuming
