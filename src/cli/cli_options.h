#pragma once

#include "search/search_query.h"
#include "search/service_address.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace yuming::cli {

enum class Job { Search, Preset, Lookup };

struct Options {
    Job job = Job::Search;
    ServiceAddress service = ServiceAddress::fromBuild();
    SearchControls controls;
    QString page;   // as typed into the page box, counted from 1; empty for the first page
    QString domain; // lookup
    QString logPath;
    bool help = false; // --help, -h or help: print usage() and exit 0
};

// Parses the arguments after the program name. On a usage error returns nullopt and sets `error`.
std::optional<Options> parseOptions(const QStringList& args, QString& error);

QString usage();

} // namespace yuming::cli
