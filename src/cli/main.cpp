// yuming-cli: the tool's search, preset search and lookup without a window, over the same core,
// and the watchlist of this user's service.
#include "cli/all_pages_job.h"
#include "cli/batch_lookup_job.h"
#include "cli/cli_options.h"
#include "cli/lookup_job.h"
#include "cli/search_job.h"
#include "cli/watch_job.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <memory>
#include <unistd.h>

using namespace yuming;
using namespace yuming::cli;

namespace {

std::unique_ptr<CliJob> jobFor(const Options& options, QIODevice& out, QIODevice& err) {
    if (options.job == Job::Watch) return std::make_unique<WatchJob>(options, out, err);
    if (options.job == Job::Lookup && !options.lookupFile.isEmpty())
        return std::make_unique<BatchLookupJob>(options, out, err);
    if (options.job == Job::Lookup) return std::make_unique<LookupJob>(options, out, err);
    if (options.allPages) return std::make_unique<AllPagesJob>(options, out, err);
    return std::make_unique<SearchJob>(options, out, err);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString error;
    const auto options = parseOptions(app.arguments().mid(1), error);
    if (!options) {
        QTextStream(stderr) << "yuming-cli: " << error << "\n\n" << usage();
        return 2;
    }
    if (options->help) {
        QTextStream(stdout) << usage();
        return 0;
    }
    QFile out, err;
    out.open(stdout, QIODevice::WriteOnly);
    err.open(stderr, QIODevice::WriteOnly);
    const std::unique_ptr<CliJob> job = jobFor(*options, out, err);
    job->setTerminal(::isatty(STDERR_FILENO));
    QObject::connect(job.get(), &CliJob::finished, &app,
                     [](int exitStatus) { QCoreApplication::exit(exitStatus); });
    if (const auto exit = job->start()) return *exit;
    return app.exec();
}
