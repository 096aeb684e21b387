#include "store/sample_mark.h"

#include "store/listing_rule.h"
#include "store/meta.h"
#include "store/sqlite_util.h"

namespace yuming::service {

namespace {

constexpr std::string_view kKey = "sample";
constexpr std::string_view kMarked = "1";
constexpr std::string_view kEnded = "0";

enum class Mark {
    None,       // made by an import
    Unrecorded, // seeded by a build that kept no mark
    Sample,
    Ended,
};

ReadResult<Mark> readMark(sqlite3* db) {
    const auto mark = metaValue(db, kKey);
    if (!mark.ok()) return {Mark::None, mark.error, mark.code};
    if (mark.value) return {*mark.value == kMarked ? Mark::Sample : Mark::Ended, {}};
    // Seeding has always noted its seed; an import never has.
    const auto seed = metaValue(db, "seed");
    if (!seed.ok()) return {Mark::None, seed.error, seed.code};
    return {seed.value ? Mark::Unrecorded : Mark::None, {}};
}

bool holdsImported(sqlite3* db, bool& holds, std::string& error) {
    Statement any(db, "SELECT EXISTS (SELECT 1 FROM domains WHERE origin = ?)");
    any.bind(1, static_cast<std::int64_t>(Origin::Imported));
    if (any.step() != Step::Row) {
        error = any.error();
        return false;
    }
    holds = any.integer(0) != 0;
    return true;
}

} // namespace

ReadResult<bool> isSample(sqlite3* db) {
    const auto mark = readMark(db);
    return {mark.value == Mark::Sample, mark.error, mark.code};
}

bool markSample(sqlite3* db, std::string& error) {
    return setMeta(db, kKey, kMarked, error);
}

bool endSample(sqlite3* db, bool& ended, std::string& error) {
    const auto mark = readMark(db);
    if (!mark.ok()) {
        error = mark.error;
        return false;
    }
    ended = mark.value == Mark::Sample;
    if (mark.value == Mark::None || mark.value == Mark::Ended) return true;
    return setMeta(db, kKey, kEnded, error);
}

bool recogniseSample(sqlite3* db, std::string& error) {
    const auto mark = readMark(db);
    if (!mark.ok()) {
        error = mark.error;
        return false;
    }
    if (mark.value == Mark::None || mark.value == Mark::Ended) return true;
    bool imported = false;
    if (!holdsImported(db, imported, error)) return false;
    const Mark wanted = imported ? Mark::Ended : Mark::Sample;
    return mark.value == wanted || setMeta(db, kKey, imported ? kEnded : kMarked, error);
}

} // namespace yuming::service
