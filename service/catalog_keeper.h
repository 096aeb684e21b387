#pragma once

#include "catalog.h"

#include <QDateTime>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace yuming::service {

// The catalogue to serve first: the one stored with the database when it is the names' own,
// otherwise built from the names (and then `unstored`, for the keeper to store).
struct OpenedCatalogue {
    std::shared_ptr<const Catalog> catalog; // null: the names could not be read, `error` says why
    std::int64_t generation = 0;
    bool unstored = false;
    std::string error;
};
// With `build` false, only a stored catalogue is taken (none: a null one, without an error).
OpenedCatalogue openCatalogue(const std::string& dbPath, const QDateTime& now, bool build = true);

// Keeps the served catalogue in step with the database while the service runs. Once a second it
// asks whether the names changed (an import, a lookup that taught the drop list something, another
// service on the file) and, if so, reads the stored catalogue or builds a new one aside and swaps
// it in; searches under way finish on the one they began with. Once a minute the names whose
// deletion time has passed leave the list. A catalogue it had to build is stored, so the next
// start reads it.
class CatalogKeeper {
public:
    CatalogKeeper(std::string dbPath, CatalogHolder& catalogs, const OpenedCatalogue& opened);
    ~CatalogKeeper();
    CatalogKeeper(const CatalogKeeper&) = delete;
    CatalogKeeper& operator=(const CatalogKeeper&) = delete;

    // After this process changed the names: returns once the catalogue served holds the change
    // (or the keeper stops).
    void refresh();
    void stop();

private:
    void run();
    void bringUpToDate();

    const std::string m_dbPath;
    CatalogHolder& m_catalogs;
    std::int64_t m_generation;
    std::shared_ptr<const Catalog> m_unstored;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::uint64_t m_asked = 0;
    std::uint64_t m_answered = 0;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace yuming::service
