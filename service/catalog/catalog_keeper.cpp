#include "catalog/catalog_keeper.h"

#include "catalog/catalog_store.h"
#include "store/sqlite_util.h"

#include "protocol/moment.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <utility>

namespace yuming::service {

namespace {

std::string directoryOf(const std::string& path) {
    const std::string dir = std::filesystem::path(path).parent_path().string();
    return dir.empty() ? std::string(".") : dir;
}

} // namespace

OpenedCatalogue openCatalogue(const std::string& dbPath, const QDateTime& now, bool build) {
    OpenedCatalogue opened;
    Store store(dbPath);
    if (!build) store.showAsOf(now.date());
    const auto shift = store.shownShift();
    if (!shift.ok()) {
        opened.error = shift.error;
        return opened;
    }
    opened.shift = shift.value;
    const auto sample = store.sample();
    if (!sample.ok()) {
        opened.error = sample.error;
        return opened;
    }
    opened.sample = sample.value;
    const auto refresh = store.refresh();
    if (!refresh.ok()) {
        opened.error = refresh.error;
        return opened;
    }
    opened.refresh = refresh.value;
    auto stored = storedCatalogue(store, now);
    if (!stored.ok()) {
        opened.error = stored.error;
        return opened;
    }
    opened.generation = stored.value.generation;
    if (stored.value.catalog) {
        opened.catalog = std::move(stored.value.catalog);
        opened.unstored = stored.value.moved;
        return opened;
    }
    if (!build) return opened;
    std::cerr << "yuming-service: building the search index (" << stored.value.note << ")\n";
    auto built = builtCatalogue(store, now);
    if (!built.ok()) {
        opened.error = built.error;
        return opened;
    }
    opened.catalog = std::move(built.value);
    opened.unstored = true;
    return opened;
}

bool stillCurrent(const OpenedCatalogue& opened, const std::string& dbPath) {
    Store store(dbPath);
    const auto generation = store.generation();
    const auto shift = store.shownShift();
    const auto sample = store.sample();
    return generation.ok() && generation.value == opened.generation && shift.ok() &&
           shift.value == opened.shift && sample.ok() && sample.value == opened.sample;
}

CatalogKeeper::CatalogKeeper(std::string dbPath, CatalogHolder& catalogs, const OpenedCatalogue& opened)
    : m_dbPath(std::move(dbPath)), m_catalogs(catalogs), m_generation(opened.generation),
      m_unstored(opened.unstored ? opened.catalog : nullptr), m_thread([this] { run(); }) {
    m_catalogs.setSample(opened.sample);
    m_catalogs.setRefresh(opened.refresh);
}

CatalogKeeper::~CatalogKeeper() {
    stop();
}

void CatalogKeeper::stop() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
    std::vector<std::pair<std::uint64_t, std::function<void()>>> waiting;
    {
        const std::lock_guard lock(m_mutex);
        waiting.swap(m_waiting);
    }
    for (const auto& [ticket, done] : waiting)
        done();
    // A catalogue built at start and not stored yet is stored now, so the next start reads it.
    if (m_unstored) {
        const std::string error =
            StoreWriter(m_dbPath).saveCatalogue(m_unstored->image(), m_generation, QDate::currentDate());
        if (!error.empty()) std::cerr << "yuming-service: cannot store the search index: " << error << '\n';
        m_unstored = nullptr;
    }
}

void CatalogKeeper::refresh(std::function<void()> done) {
    {
        const std::lock_guard lock(m_mutex);
        if (!m_stopping) {
            m_waiting.emplace_back(++m_asked, std::move(done));
            m_wake.notify_all();
            return;
        }
    }
    done();
}

void CatalogKeeper::run() {
    using Clock = std::chrono::steady_clock;
    auto nextFloor = Clock::now() + std::chrono::minutes(1);
    std::unique_lock lock(m_mutex);
    bool first = true;
    std::uint64_t answered = 0;
    while (!m_stopping) {
        // The first turn comes at once: a catalogue built at start is stored without delay.
        if (!std::exchange(first, false))
            m_wake.wait_for(lock, std::chrono::seconds(1), [&] { return m_stopping || m_asked > answered; });
        if (m_stopping) break;
        const std::uint64_t asked = m_asked;
        lock.unlock();
        catchUp();
        if (Clock::now() >= nextFloor) {
            nextFloor = Clock::now() + std::chrono::minutes(1);
            const std::string now = Moment::of(QDateTime::currentDateTime()).text();
            const std::lock_guard served(m_servedMutex);
            const auto current = m_catalogs.current();
            if (!current->firstDeletion().empty() && current->firstDeletion() < now)
                m_catalogs.replace(current->since(now));
        }
        lock.lock();
        answered = asked;
        // Those asked before this turn began see their change in the catalogue now served.
        const auto ready =
            std::stable_partition(m_waiting.begin(), m_waiting.end(),
                                  [&](const auto& waiting) { return waiting.first > answered; });
        std::vector<std::function<void()>> calls;
        for (auto it = ready; it != m_waiting.end(); ++it)
            calls.push_back(std::move(it->second));
        m_waiting.erase(ready, m_waiting.end());
        lock.unlock();
        for (const auto& call : calls)
            call();
        storeWhenDue();
        lock.lock();
    }
}

// Errors are said once until the database reads again, not once a second.
void CatalogKeeper::sayOnce(const std::string& what) {
    if (what != m_lastError) std::cerr << "yuming-service: " << what << '\n';
    m_lastError = what;
}

void CatalogKeeper::learn(LearnedName learned) {
    const std::lock_guard served(m_servedMutex);
    m_learned.emplace_back(++m_taught, std::move(learned));
    std::vector<LearnedName> names;
    for (const auto& [ticket, name] : m_learned)
        names.push_back(name);
    m_catalogs.replace(m_catalogs.current()->withLearned(std::move(names)));
}

std::uint64_t CatalogKeeper::taughtSoFar() {
    const std::lock_guard served(m_servedMutex);
    return m_taught;
}

// What was learned by `taught` was in the database before the names of `next` were read.
void CatalogKeeper::serve(std::shared_ptr<const Catalog> next, std::uint64_t taught) {
    const std::lock_guard served(m_servedMutex);
    std::erase_if(m_learned, [&](const auto& learned) { return learned.first <= taught; });
    if (m_learned.empty()) return m_catalogs.replace(std::move(next));
    std::vector<LearnedName> names;
    for (const auto& [ticket, name] : m_learned)
        names.push_back(name);
    m_catalogs.replace(next->withLearned(std::move(names)));
}

void CatalogKeeper::catchUp() {
    const std::uint64_t taught = taughtSoFar();
    Store store(m_dbPath);
    const auto generation = store.generation();
    // A writer committing holds the file a moment; the next turn asks again.
    if (!generation.ok() && isBusy(generation.code)) return;
    if (!generation.ok()) return sayOnce("cannot read the database: " + generation.error);
    if (generation.value == m_generation) return;
    // The mark goes only with a change of the names (an import), so it is read with them.
    const auto sample = store.sample();
    if (!sample.ok() && isBusy(sample.code)) return;
    if (!sample.ok()) return sayOnce("cannot read the database: " + sample.error);
    const auto refresh = store.refresh();
    if (!refresh.ok() && isBusy(refresh.code)) return;
    if (!refresh.ok()) return sayOnce("cannot read the database: " + refresh.error);
    // The catalogue served goes on serving from a file while the next one is made; neither holds
    // its pages in memory until the switch.
    const auto served = m_catalogs.current();
    const LeanSwitch lean(directoryOf(m_dbPath), &served->storage());
    const QDateTime now = QDateTime::currentDateTime();
    auto stored = storedCatalogue(store, now);
    if (!stored.ok()) return sayOnce("cannot read the search index: " + stored.error);
    if (stored.value.catalog) {
        m_unstored = stored.value.moved ? stored.value.catalog : nullptr;
        serve(std::move(stored.value.catalog), taught);
    } else {
        auto built = builtCatalogue(store, now);
        if (!built.ok()) return sayOnce("cannot read the drop list: " + built.error);
        serve(built.value, taught);
        m_unstored = std::move(built.value);
        // Lookups that change the list come in runs; the index is stored once they pause.
        m_storeAt = std::chrono::steady_clock::now() + kStoreWhenQuietFor;
    }
    m_catalogs.setSample(sample.value);
    m_catalogs.setRefresh(refresh.value);
    m_generation = stored.value.generation;
    m_lastError.clear();
}

void CatalogKeeper::storeWhenDue() {
    if (!m_unstored || std::chrono::steady_clock::now() < m_storeAt) return;
    StoreWriter writer(m_dbPath);
    const std::string error = writer.saveCatalogue(m_unstored->image(), m_generation, QDate::currentDate());
    if (!error.empty()) return sayOnce("cannot store the search index: " + error);
    m_unstored = nullptr;
}

} // namespace yuming::service
