#include "import/feed_runner.h"

#include "import/drop_import.h"
#include "import/url_lists.h"
#include "net/feed_fetch.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <iostream>
#include <memory>

namespace yuming::service {

namespace {

// How often the running service looks for feeds added beside it.
constexpr std::int64_t kLookAgain = 2;
constexpr std::int64_t kNotAgainFor = 30 * 60;

class Quiet : public ImportObserver {
public:
    void reading(std::uint64_t) override {}
    void writing() override {}
    void skipped(const SkippedLine&) override {}
    void read(std::uint64_t) override {}
};

// Beside the database, so the import reads it from the same disk; named after the URL's last
// part, whose date a list of bare names may take.
std::string bodyFileFor(const Feed& feed, const std::string& dbPath) {
    const QString dir = QFileInfo(QString::fromStdString(dbPath)).absolutePath();
    return QDir(dir)
        .filePath(QStringLiteral(".feed-%1-%2-%3")
                      .arg(feed.id)
                      .arg(::getpid())
                      .arg(QString::fromStdString(listFileName(feed.plan.url))))
        .toStdString();
}

// Bodies left by a fetch whose process ended before it could remove them (killed, or a service
// that stopped during a long fetch): each is named after its process, which no longer runs.
void removeLeftBodies(const std::string& dbPath) {
    const QDir dir(QFileInfo(QString::fromStdString(dbPath)).absolutePath());
    static const QRegularExpression named(QStringLiteral("^\\.feed-\\d+-(\\d+)-"));
    for (const QString& file : dir.entryList({QStringLiteral(".feed-*")}, QDir::Files | QDir::Hidden)) {
        const QRegularExpressionMatch match = named.match(file);
        if (!match.hasMatch()) continue;
        const auto pid = static_cast<pid_t>(match.captured(1).toLongLong());
        if (pid > 0 && pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH)
            QFile::remove(dir.filePath(file));
    }
}

std::string countsText(const ImportCounts& counts) {
    const std::string summary = importSummary(counts, 1, true);
    const auto colon = summary.find(": ");
    return colon == std::string::npos ? summary : summary.substr(colon + 2);
}

FeedRun failed(const Feed& feed, const FeedEnv& env, FeedSchedule& schedule, FetchRecord record,
               std::optional<std::chrono::seconds> retryAfter) {
    record.failures = feed.failures + 1;
    record.next = schedule.afterFailure(feed.plan, record.at, record.failures, retryAfter);
    std::string error;
    if (!recordFetch(env.dbPath, feed.id, record, error))
        record.error += " (and the outcome could not be recorded: " + error + ')';
    return {false, "feed " + feed.plan.url + ": " + record.error + "; the list is as it was"};
}

} // namespace

FeedRun fetchFeed(const Feed& feed, const FeedEnv& env, FeedSchedule& schedule, bool acceptShrink,
                  const std::atomic<bool>* stop) {
    FetchRecord record;
    record.at = schedule.now();
    FeedFetchRequest request;
    request.url = feed.plan.url;
    request.validators = {feed.lastModified, feed.etag};
    request.bodyFile = bodyFileFor(feed, env.dbPath);
    request.caFile = env.caFile;
    request.stop = stop;
    const FeedFetchOutcome outcome = fetchToFile(request);
    if (stop && stop->load() && outcome.kind == FeedFetchOutcome::Kind::Failed) {
        QFile::remove(QString::fromStdString(request.bodyFile));
        return {false, "feed " + feed.plan.url + ": the fetch was stopped with the service"};
    }
    record.status = outcome.status;
    record.bytes = static_cast<std::int64_t>(outcome.bytes);
    if (outcome.kind == FeedFetchOutcome::Kind::Failed) {
        QFile::remove(QString::fromStdString(request.bodyFile));
        record.error = outcome.error;
        return failed(feed, env, schedule, std::move(record), outcome.retryAfter);
    }
    if (outcome.kind == FeedFetchOutcome::Kind::Taken) {
        ImportRequest import;
        import.files = {request.bodyFile};
        import.dbPath = env.dbPath;
        import.zone = env.zone;
        import.today = QDate::currentDate();
        import.feed = ImportRequest::Feed{feed.id, acceptShrink};
        import.dateOrder = feed.plan.dateOrder;
        Quiet quiet;
        const ImportResult result = importDropLists(import, quiet);
        QFile::remove(QString::fromStdString(request.bodyFile));
        if (!result.ok()) {
            record.error = result.error;
            return failed(feed, env, schedule, std::move(record), std::nullopt);
        }
        record.taken = true;
        record.changed = result.counts.added + result.counts.updated + result.counts.removed > 0;
        record.lastModified = outcome.validators.lastModified;
        record.etag = outcome.validators.etag;
        record.counts = countsText(result.counts);
    }
    record.next = schedule.afterSuccess(feed.plan, record.at);
    std::string error;
    if (!recordFetch(env.dbPath, feed.id, record, error))
        return {false, "feed " + feed.plan.url + ": the fetch's outcome could not be recorded: " + error};
    if (!record.taken) return {true, "feed " + feed.plan.url + ": 304 not modified, the list unchanged"};
    return {true, "feed " + feed.plan.url + ": " + std::to_string(record.status) + ", " +
                      std::to_string(record.bytes) + " bytes: " + record.counts};
}

int runFeedFetch(const FeedEnv& env, const std::string& url, bool acceptShrink) {
    if (!QFileInfo::exists(QString::fromStdString(env.dbPath))) {
        std::cerr << "yuming-service: " << (url.empty() ? "no feeds" : "no such feed: " + url) << '\n';
        return 1;
    }
    removeLeftBodies(env.dbPath);
    const auto feeds = readFeeds(env.dbPath);
    if (!feeds.ok()) {
        std::cerr << "yuming-service: cannot read the feeds of " << env.dbPath << ": " << feeds.error << '\n';
        return 1;
    }
    FeedSchedule schedule([] { return QDateTime::currentSecsSinceEpoch(); }, env.zone,
                          QRandomGenerator::system()->generate64());
    int fetched = 0;
    bool ok = true;
    for (const Feed& feed : feeds.value) {
        if (!url.empty() && feed.plan.url != url) continue;
        ++fetched;
        const FeedRun run = fetchFeed(feed, env, schedule, acceptShrink);
        (run.ok ? std::cout : std::cerr) << (run.ok ? "" : "yuming-service: ") << run.line << std::endl;
        ok = ok && run.ok;
    }
    if (fetched == 0) {
        std::cerr << "yuming-service: " << (url.empty() ? "no feeds" : "no such feed: " + url) << '\n';
        return 1;
    }
    return ok ? 0 : 1;
}

FeedRunner::FeedRunner(FeedEnv env, std::function<void(const std::string&)> log)
    : m_env(std::move(env)), m_log(std::move(log)),
      m_schedule([] { return QDateTime::currentSecsSinceEpoch(); }, m_env.zone,
                 QRandomGenerator::system()->generate64()),
      m_thread([this] { run(); }) {}

FeedRunner::~FeedRunner() {
    stop();
}

void FeedRunner::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_cancel = true;
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

bool FeedRunner::rest(std::int64_t seconds) {
    std::unique_lock lock(m_mutex);
    m_wake.wait_for(lock, std::chrono::seconds(std::max<std::int64_t>(seconds, 0)),
                    [this] { return m_stopping; });
    return !m_stopping;
}

void FeedRunner::run() {
    removeLeftBodies(m_env.dbPath);
    while (true) {
        auto feeds = readFeeds(m_env.dbPath);
        if (!feeds.ok() && feeds.error != m_lastError)
            m_log("yuming-service: cannot read the feeds: " + feeds.error);
        m_lastError = feeds.error;
        m_any = !feeds.value.empty();
        for (Feed& feed : feeds.value)
            if (const auto found = m_notBefore.find(feed.id); found != m_notBefore.end())
                feed.next = std::max(feed.next.value_or(0), found->second);
        std::int64_t wake = 0;
        const auto chosen = feeds.ok() ? m_schedule.pick(feeds.value, wake) : std::nullopt;
        if (!chosen) {
            if (!rest(kLookAgain)) return;
            continue;
        }
        const Feed& feed = feeds.value[*chosen];
        m_schedule.begin(feed.plan.url);
        const FeedRun run = fetchFeed(feed, m_env, m_schedule, false, &m_cancel);
        m_schedule.end(feed.plan.url);
        m_notBefore[feed.id] = m_schedule.now() + kNotAgainFor;
        m_log("yuming-service: " + run.line);
        if (m_cancel) return;
    }
}

} // namespace yuming::service
