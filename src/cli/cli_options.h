#pragma once

#include "protocol/search_query.h"
#include "search/row_format.h"
#include "search/service_address.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace yuming::cli {

enum class Job { Search, Preset, Lookup, Watch };
enum class WatchCommand { Add, Remove, List, Check, History, Ics };

struct Options {
    Job job = Job::Search;
    ServiceAddress service = ServiceAddress::fromBuild();
    SearchQuery filters;
    QString page;   // as typed into the page box, counted from 1; empty for the first page
    QString domain; // lookup
    QString logPath;
    bool allPages = false; // search/preset: every page, one after another
    QString lookupFile;    // lookup and watch add: one domain per line from this file ("-": stdin)
    int delayMs = 300;     // between the requests of --all-pages and --file
    row_format::Format format = row_format::Format::Tsv;
    bool quiet = false; // no progress on stderr
    bool help = false;  // --help, -h or help: print usage() and exit 0
    WatchCommand watch = WatchCommand::List;
    QStringList names; // watch: the names after its command
    QString outPath;   // watch ics: the calendar file; empty for stdout
    // watch with --service: the service's token (--token, else YUMING_TOKEN). This user's own
    // service has its token read from its record.
    QByteArray token;
};

// Parses the arguments after the program name. On a usage error returns nullopt and sets `error`.
std::optional<Options> parseOptions(const QStringList& args, QString& error);

QString usage();

} // namespace yuming::cli
