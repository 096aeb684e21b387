#include "store/bulk_names.h"

#include "store/shown_dates.h"
#include "store/sqlite_util.h"

#include <algorithm>

namespace yuming::service {

bool eachKeptName(sqlite3* db, const KeptUse& use, std::string& error) {
    Statement scan(db, "SELECT id, name, suffix FROM domains ORDER BY name, suffix");
    Step step;
    while ((step = scan.step()) == Step::Row)
        use(scan.integer(0), scan.text(1), scan.text(2));
    if (step != Step::Failed) return true;
    error = scan.error();
    return false;
}

bool removeNames(sqlite3* db, std::vector<std::int64_t> ids, std::string& error) {
    // In id order the deletes walk the table front to back.
    std::sort(ids.begin(), ids.end());
    Statement remove(db, "DELETE FROM domains WHERE id = ?");
    for (const std::int64_t id : ids) {
        remove.reset();
        remove.bind(1, id);
        if (remove.step() != Step::Done) {
            error = remove.error();
            return false;
        }
    }
    return true;
}

namespace {

// A generated name's deletion as shown (moved by the shown shift, ?2), which a later one beats.
std::string mergeSql(std::string_view source, Merge merge, int shift) {
    std::string sql = "INSERT INTO domains(name, suffix, rname, length, expiry, deletion, origin) "
                      "SELECT name, suffix, rname, length, expiry, deletion, ?1 FROM ";
    sql += source;
    sql += " WHERE true ORDER BY name, suffix";
    if (merge == Merge::Add) return sql;
    sql += " ON CONFLICT (name, suffix) DO UPDATE SET expiry = excluded.expiry, "
           "deletion = excluded.deletion, origin = excluded.origin WHERE ";
    sql += merge == Merge::Later
               ? shift == 0 ? "excluded.deletion > domains.deletion"
                            : "excluded.deletion > CASE WHEN domains.origin = 0 THEN "
                              "datetime(domains.deletion, ?2) ELSE domains.deletion END"
               : "excluded.deletion <> domains.deletion OR excluded.expiry <> domains.expiry "
                 "OR excluded.origin <> domains.origin";
    return sql;
}

} // namespace

bool mergeNames(sqlite3* db, std::string_view source, Origin origin, Merge merge, std::int64_t& changed,
                std::string& error) {
    const auto shift = shownShift(db);
    if (!shift.ok()) {
        error = shift.error;
        return false;
    }
    Statement insert(db, mergeSql(source, merge, shift.value));
    insert.bind(1, static_cast<std::int64_t>(origin));
    if (merge == Merge::Later && shift.value != 0) insert.bind(2, std::to_string(shift.value) + " days");
    if (insert.step() != Step::Done) {
        error = insert.error();
        return false;
    }
    changed = sqlite3_changes64(db);
    return true;
}

} // namespace yuming::service
