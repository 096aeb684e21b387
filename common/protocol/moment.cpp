#include "protocol/moment.h"

#include <cstdio>

namespace yuming {
namespace {

constexpr std::string_view kShape = "0000-00-00 00:00:00";
static_assert(kShape.size() == Moment::kTextSize);

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

std::optional<std::uint64_t> Moment::pack(std::string_view text) {
    if (text.size() != kShape.size()) return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (kShape[i] != '0') {
            if (text[i] != kShape[i]) return std::nullopt;
            continue;
        }
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return value;
}

void Moment::unpack(std::uint64_t packed, char* out) {
    for (std::size_t i = kShape.size(); i-- > 0;) {
        if (kShape[i] != '0') {
            out[i] = kShape[i];
            continue;
        }
        out[i] = static_cast<char>('0' + packed % 10);
        packed /= 10;
    }
}

std::string Moment::text() const {
    char out[32];
    std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", date.year(), date.month(), date.day(),
                  time.hour(), time.minute(), time.second());
    return out;
}

} // namespace yuming
