// yuming-cli: the tool's search, preset search and lookup without a window, over the same core.
#include "cli/cli_options.h"
#include "lookup/app_path.h"
#include "lookup/lookup.h"
#include "lookup/lookup_command.h"
#include "lookup/lookup_log.h"
#include "search/search_commands.h"

#include "search/row_format.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <unistd.h>

using namespace yuming;

namespace {

// Ctrl+C during a run of many requests: noted here, acted on when the request in flight ends.
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void noteInterrupt(int) {
    g_interrupted = 1;
}

void stopAfterTheCurrentRequest() {
    struct sigaction action {};
    action.sa_handler = noteInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

constexpr int kInterruptedExit = 130;

class Runner : public QObject {
public:
    explicit Runner(cli::Options options)
        : m_options(std::move(options)), m_search(m_fetch, m_options.service),
          m_lookup(m_fetch, m_options.service, m_options.logPath) {
        connect(&m_search, &SearchCommands::statusChanged, this, &Runner::status);
        connect(&m_lookup, &LookupCommand::statusChanged, this, &Runner::status);
        connect(&m_search, &SearchCommands::rowsCleared, this, [this] { m_rows.clear(); });
        connect(&m_search, &SearchCommands::rowsAdded, this,
                [this](const QList<ResultRow>& rows) { m_rows += rows; });
        connect(&m_search, &SearchCommands::finished, this, &Runner::searchFinished);
        connect(&m_lookup, &LookupCommand::resultTextChanged, this, [this](const QString& text) {
            if (single()) m_err << text << Qt::endl;
        });
        connect(&m_lookup, &LookupCommand::logNotice, this,
                [this](const QString& text) { m_err << "yuming-cli: " << text << Qt::endl; });
        connect(&m_lookup, &LookupCommand::finished, this,
                [this] { m_options.lookupFile.isEmpty() ? lookupFinished() : batchLookupFinished(); });
        // The status texts say that a request failed; this line says why, for a script's user.
        connect(&m_fetch, &Fetch::finished, this, [this] {
            if (!m_fetch.problem().isEmpty()) m_err << "yuming-cli: " << m_fetch.problem() << Qt::endl;
        });
    }

    // Starts the job; returns an exit status when it ended before any request.
    std::optional<int> start() {
        switch (m_options.job) {
        case cli::Job::Search:
        case cli::Job::Preset:
            if (m_options.allPages) stopAfterTheCurrentRequest();
            return started(m_options.job == cli::Job::Search ? m_search.newSearch(m_options.controls)
                                                              : m_search.presetSearch());
        case cli::Job::Lookup: {
            if (!m_options.lookupFile.isEmpty()) return startBatch();
            const auto exit = started(m_lookup.lookup(m_options.domain));
            if (!exit) sayWhereTheLogIs();
            return exit;
        }
        }
        return 2;
    }

private:
    std::optional<int> started(const CommandResult& result) {
        if (result.kind == CommandResult::Kind::Started) return std::nullopt;
        m_err << result.message << Qt::endl;
        return 2;
    }

    // The log beside the program is where a user looks for it; say so when it is elsewhere
    // without having been asked for (--log).
    void sayWhereTheLogIs() {
        const QString folder = GetAppPath();
        const QString& log = m_options.logPath;
        if (log != folder + kLookupLogName.toString() && log == lookupLogPath(folder))
            m_err << "yuming-cli: the program's folder cannot hold the lookup log; it is kept in "
                  << log << Qt::endl;
    }

    // One request, whose status texts go to stderr as the window shows them; runs of many
    // requests show their progress instead.
    bool single() const { return !m_options.allPages && m_options.lookupFile.isEmpty(); }

    void status(const QString& text) {
        m_lastStatus = text;
        if (single()) m_err << text << Qt::endl;
    }

    void searchFinished() {
        if (m_options.allPages) return allPagesStep();
        const bool done = m_search.lastPageRead();
        // The page box counts from 1, and the first page is already here.
        if (done && !m_jumped && !m_options.page.isEmpty() && wholeNumberIsNot1()) {
            m_jumped = true;
            if (const auto exit = started(m_search.jumpToPage(m_options.controls, m_options.page))) quit(*exit);
            return;
        }
        if (!done) return quit(1);
        m_out << "pages\t" << m_search.state().PageCount << "\tcurrent\t" << m_search.state().PageNo.toLongLong() + 1
              << '\n';
        for (const ResultRow& row : m_rows)
            m_out << row.domain() << '\t' << row.length() << '\t' << row.suffix() << '\t' << row.deletionTime() << '\n';
        m_out.flush();
        quit(done ? 0 : 1);
    }

    bool wholeNumberIsNot1() const { return m_options.page.trimmed() != QLatin1String("1"); }

    static bool answered(const LookupCommand::End& end) {
        return end.kind == LookupCommand::End::Kind::Registered || end.kind == LookupCommand::End::Kind::NotRegistered;
    }

    void lookupFinished() {
        const LookupCommand::End& end = m_lookup.lastEnd();
        if (answered(end)) {
            const LookupPage page{end.kind == LookupCommand::End::Kind::Registered ? LookupPage::Outcome::Dates
                                                                                  : LookupPage::Outcome::NotRegistered,
                                  end.expiry, end.deletion};
            m_out << lookupResultText(page) << Qt::endl;
        }
        quit(answered(end) ? 0 : 1);
    }

    // Every page of the search, streamed out as it comes: the rows of one page at a time.
    void allPagesStep() {
        const SearchState& state = m_search.state();
        if (!m_search.lastPageRead()) {
            m_err << m_lastStatus << Qt::endl;
            if (m_pagesFetched > 0) progressDone();
            return endAllPages(1);
        }
        const qint64 pages = qMax<qint64>(1, state.PageCount.trimmed().toLongLong());
        if (m_pagesFetched == 0) {
            if (m_options.format == row_format::Format::Tsv)
                m_out << "pages\t" << state.PageCount << '\n';
            else
                writeBytes(row_format::head(m_options.format));
        }
        ++m_pagesFetched;
        m_rowCount += m_rows.size();
        writeBytes(row_format::rows(m_options.format, m_rows));
        m_out.flush();
        progress(m_pagesFetched, pages);
        const bool more = state.PageNo.toLongLong() + 1 < pages;
        if (!more) return progressDone(), endAllPages(0);
        if (g_interrupted) return progressDone(), endAllPages(kInterruptedExit);
        QTimer::singleShot(m_options.delayMs, this, [this] {
            if (g_interrupted) return progressDone(), endAllPages(kInterruptedExit);
            if (const auto exit = started(m_search.nextPage(m_options.controls))) endAllPages(*exit);
        });
    }

    void endAllPages(int exit) {
        if (m_options.format == row_format::Format::Json)
            m_out << "{\"pages\":" << m_search.state().PageCount.trimmed().toLongLong() << ",\"fetched\":" << m_pagesFetched
                  << ",\"rows\":" << m_rowCount << ",\"complete\":" << (exit == 0 ? "true" : "false") << "}\n";
        m_out.flush();
        quit(exit);
    }

    void writeBytes(const QByteArray& bytes) {
        m_out.flush();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
    }

    // A bar redrawn in place on a terminal, plain lines for a log, nothing when asked.
    void progress(qint64 done, qint64 total) {
        if (m_options.quiet) return;
        if (::isatty(STDERR_FILENO)) {
            constexpr int kWidth = 30;
            const int filled = int(done * kWidth / qMax<qint64>(1, total));
            m_err << '\r' << '[' << QString(filled, u'#') << QString(kWidth - filled, u' ') << "] page " << done << '/'
                  << total << Qt::flush;
            m_barShown = true;
        } else {
            m_err << "page " << done << '/' << total << Qt::endl;
        }
    }
    void progressDone() {
        if (m_barShown) m_err << Qt::endl;
        m_barShown = false;
    }

    // Lookups of a list of domains, one after another, one output line each, in input order.
    std::optional<int> startBatch() {
        QFile file;
        const bool opened = m_options.lookupFile == QLatin1String("-")
                                ? file.open(stdin, QIODevice::ReadOnly)
                                : (file.setFileName(m_options.lookupFile), file.open(QIODevice::ReadOnly));
        if (!opened) {
            m_err << "yuming-cli: cannot read " << m_options.lookupFile << ": " << file.errorString() << Qt::endl;
            return 2;
        }
        for (const QByteArray& raw : file.readAll().split('\n')) {
            const QString line = QString::fromUtf8(raw).trimmed();
            if (!line.isEmpty() && !line.startsWith(u'#')) m_batch.append(line);
        }
        stopAfterTheCurrentRequest();
        sayWhereTheLogIs();
        QTimer::singleShot(0, this, &Runner::nextLookup);
        return std::nullopt;
    }

    void nextLookup() {
        while (m_next < m_batch.size()) {
            if (g_interrupted) return finishBatch(kInterruptedExit);
            const QString& domain = m_batch[m_next];
            const CommandResult result = m_lookup.lookup(domain);
            if (result.kind == CommandResult::Kind::Started) return;
            writeLookupLine(domain, QStringLiteral("refused"), {}, {});
            m_err << "yuming-cli: " << domain << ": " << result.message << Qt::endl;
            m_unanswered = true;
            ++m_next;
        }
        finishBatch(m_unanswered ? 1 : 0);
    }

    void batchLookupFinished() {
        const LookupCommand::End& end = m_lookup.lastEnd();
        using Kind = LookupCommand::End::Kind;
        const QString outcome = end.kind == Kind::Registered      ? QStringLiteral("registered")
                                : end.kind == Kind::NotRegistered ? QStringLiteral("not-registered")
                                : end.kind == Kind::TimedOut      ? QStringLiteral("timeout")
                                                                  : QStringLiteral("error");
        writeLookupLine(m_batch[m_next], outcome, end.expiry, end.deletion);
        m_unanswered = m_unanswered || !answered(end);
        ++m_next;
        if (m_next >= m_batch.size()) return finishBatch(m_unanswered ? 1 : 0);
        if (g_interrupted) return finishBatch(kInterruptedExit);
        QTimer::singleShot(m_options.delayMs, this, &Runner::nextLookup);
    }

    void writeLookupLine(const QString& domain, const QString& outcome, const QString& expiry, const QString& deletion) {
        m_out << domain << '\t' << outcome << '\t' << expiry << '\t' << deletion << '\n';
        m_out.flush();
    }

    void finishBatch(int exit) {
        m_out.flush();
        quit(exit);
    }

    void quit(int status) { QCoreApplication::exit(status); }

    cli::Options m_options;
    Fetch m_fetch;
    SearchCommands m_search;
    LookupCommand m_lookup;
    QList<ResultRow> m_rows;
    QString m_lastStatus;
    bool m_jumped = false;
    qint64 m_pagesFetched = 0, m_rowCount = 0;
    bool m_barShown = false;
    QStringList m_batch;
    qsizetype m_next = 0;
    bool m_unanswered = false;
    QTextStream m_out{stdout};
    QTextStream m_err{stderr};
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString error;
    const auto options = cli::parseOptions(app.arguments().mid(1), error);
    if (!options) {
        QTextStream(stderr) << "yuming-cli: " << error << "\n\n" << cli::usage();
        return 2;
    }
    if (options->help) {
        QTextStream(stdout) << cli::usage();
        return 0;
    }
    Runner runner(*options);
    if (const auto exit = runner.start()) return *exit;
    return app.exec();
}
