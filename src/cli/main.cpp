// yuming-cli: the tool's search, preset search and lookup without a window, over the same core.
#include "cli/cli_options.h"
#include "lookup/app_path.h"
#include "lookup/lookup.h"
#include "lookup/lookup_command.h"
#include "lookup/lookup_log.h"
#include "search/search_commands.h"

#include <QCoreApplication>
#include <QTextStream>

using namespace yuming;

namespace {

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
            m_result = text;
            m_err << text << Qt::endl;
        });
        connect(&m_lookup, &LookupCommand::logNotice, this,
                [this](const QString& text) { m_err << "yuming-cli: " << text << Qt::endl; });
        connect(&m_lookup, &LookupCommand::finished, this, &Runner::lookupFinished);
        // The status texts say that a request failed; this line says why, for a script's user.
        connect(&m_fetch, &Fetch::finished, this, [this] {
            if (!m_fetch.problem().isEmpty()) m_err << "yuming-cli: " << m_fetch.problem() << Qt::endl;
        });
    }

    // Starts the job; returns an exit status when it ended before any request.
    std::optional<int> start() {
        switch (m_options.job) {
        case cli::Job::Search:
            return started(m_search.newSearch(m_options.controls));
        case cli::Job::Preset:
            return started(m_search.presetSearch());
        case cli::Job::Lookup: {
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

    void status(const QString& text) {
        m_lastStatus = text;
        m_err << text << Qt::endl;
    }

    void searchFinished() {
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

    void lookupFinished() {
        const auto kind = m_lookup.lastEnd().kind;
        const bool ok = kind == LookupCommand::End::Kind::Registered || kind == LookupCommand::End::Kind::NotRegistered;
        if (ok) m_out << m_result << Qt::endl;
        quit(ok ? 0 : 1);
    }

    void quit(int status) { QCoreApplication::exit(status); }

    cli::Options m_options;
    Fetch m_fetch;
    SearchCommands m_search;
    LookupCommand m_lookup;
    QList<ResultRow> m_rows;
    QString m_lastStatus, m_result;
    bool m_jumped = false;
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
