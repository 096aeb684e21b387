#pragma once

#include "catalog/catalog.h"
#include "store/store.h"

#include <QDateTime>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace yuming::service {

// The catalogue to serve first: the one stored with the database when it is the names' own,
// otherwise built from the names (and then `unstored`, for the keeper to store).
struct OpenedCatalogue {
    std::shared_ptr<const Catalog> catalog; // null: the names could not be read, `error` says why
    std::int64_t generation = 0;
    int shift = 0; // the generated names' dates shown moved by these days
    bool sample = false;
    std::optional<ListRefresh> refresh;
    bool unstored = false;
    std::string error;
};
// With `build` false, only a stored catalogue is taken (none: a null one, without an error), read
// before the file is prepared: with the generated dates as preparing today will show them.
OpenedCatalogue openCatalogue(const std::string& dbPath, const QDateTime& now, bool build = true);
// Whether a catalogue opened before the database was prepared still is the names' own: neither
// the names, the days their dates are shown moved by nor the sample mark changed since.
bool stillCurrent(const OpenedCatalogue& opened, const std::string& dbPath);

// Keeps the served catalogue in step with the database while the service runs. Once a second it
// asks whether the names changed (an import, a lookup that taught the drop list something, another
// service on the file) and, if so, reads the stored catalogue or builds a new one aside and swaps
// it in; searches under way finish on the one they began with. Once a minute the names whose
// deletion time has passed leave the list. A catalogue it had to build is stored, so the next
// start reads it: one built at start at once, one built for a change once changes pause.
class CatalogKeeper {
public:
    CatalogKeeper(std::string dbPath, CatalogHolder& catalogs, const OpenedCatalogue& opened);
    ~CatalogKeeper();
    CatalogKeeper(const CatalogKeeper&) = delete;
    CatalogKeeper& operator=(const CatalogKeeper&) = delete;

    // After this process changed the names: `done` is called, on the keeper's thread, once the
    // catalogue served holds the change, or when the keeper stops.
    void refresh(std::function<void()> done);
    // After a lookup taught the database what `learned` says: served when this returns, laid over
    // the catalogue until the next one built from the names holds it.
    void learn(LearnedName learned);
    void stop();

private:
    // Serves `next`, with what was learned after `taught` laid over it.
    void serve(std::shared_ptr<const Catalog> next, std::uint64_t taught);
    std::uint64_t taughtSoFar();
    void run();
    void catchUp();
    void storeWhenDue();
    void sayOnce(const std::string& what);

    static constexpr std::chrono::seconds kStoreWhenQuietFor{30};

    const std::string m_dbPath;
    CatalogHolder& m_catalogs;
    std::int64_t m_generation;
    std::shared_ptr<const Catalog> m_unstored;
    std::chrono::steady_clock::time_point m_storeAt{};
    std::string m_lastError;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::uint64_t m_asked = 0;
    std::vector<std::pair<std::uint64_t, std::function<void()>>> m_waiting;
    bool m_stopping = false;
    // What lookups taught, numbered, until a catalogue built after it holds it. Whatever replaces
    // the catalogue served holds m_servedMutex, so no change is lost between reading and replacing.
    std::mutex m_servedMutex;
    std::vector<std::pair<std::uint64_t, LearnedName>> m_learned;
    std::uint64_t m_taught = 0;
    std::thread m_thread;
};

} // namespace yuming::service
