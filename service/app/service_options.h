#pragma once

#include "import/drop_list.h"
#include "import/feed_store.h"
#include "store/seed.h"
#include "watch/watch_schedule.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace yuming::service {

struct ServiceOptions {
    enum class Command {
        Serve,
        Check,  // "check": a full integrity check of the database, then exit
        Import, // "import FILE...": drop lists into the database, then exit
        Feed,   // "feed add|remove|list|fetch": the database's feeds
    };
    Command command = Command::Serve;
    std::string host = "127.0.0.1";
    int port = 0;
    std::string dbPath;
    SeedOptions seed;
    bool help = false;
    // This user's own service (see usage()): records its address where the tool looks for it.
    bool user = false;
    // Seconds without a request after which the service ends by itself; 0 never.
    int idleExitSeconds = 0;
    // Where the service writes its log itself instead of to its stderr; empty: stderr.
    std::string logPath;
    // The log is moved to logPath + ".1" when it has grown to this size.
    std::int64_t logLimit = 4 * 1024 * 1024;

    // Where lookups of com, net and org are answered from. Auto: the registries' RDAP servers,
    // and when one cannot be reached the database for the names it holds, an error for the rest.
    // On: the registries alone. Off: the database alone, a name it does not hold unregistered.
    enum class Rdap { Auto, On, Off };
    Rdap rdap = Rdap::Auto;
    // Auto: how long a registry that could not be reached is left alone before it is asked again.
    int rdapPauseSeconds = 60;
    // A bootstrap file of the user's in place of the one built in; empty: the built-in one.
    std::string rdapBootstrap;
    // A CA certificate (PEM) trusted besides the system's.
    std::string rdapCa;
    // Requests per second to one RDAP host.
    double rdapRate = 1.0;
    // The zone the times on the lookup page are given in; empty: the system's.
    std::string timeZone;
    // Run by /bin/sh for each watch event, the event in YUMING_* variables; empty: none.
    std::string notifyCommand;

    // How often watched names are checked, and the reminders before their drop.
    WatchIntervals watch;

    // import: the lists, and whether they replace the drop list rather than join it.
    std::vector<std::string> importFiles;
    bool replace = false;
    // import --date: the deletion day (YYYY-MM-DD) of names listed without a time; empty: none.
    std::string bareDate;
    // import --date-order: how dates written a/b/yyyy are read.
    DateOrder dateOrder = DateOrder::Auto;

    // feed: what to do, to which URL (fetch: empty for every feed), how often and when.
    enum class FeedAction { Add, Remove, List, Fetch };
    FeedAction feedAction = FeedAction::List;
    FeedPlan feed;
    bool acceptShrink = false;
    // service.conf's "feed = URL" lines, which the service keeps among the database's feeds.
    std::vector<FeedPlan> confFeeds;
};

struct OptionsResult {
    ServiceOptions options;
    std::string error;
    bool ok() const { return error.empty(); }
};

// The command line over the configuration file's settings (`configText`, the file's contents;
// `configName` names it in errors): what the command line says wins.
OptionsResult parseOptions(const std::vector<std::string>& args, std::string_view configText = {},
                           std::string_view configName = {});
// $XDG_CONFIG_HOME/yuming/service.conf (~/.config/yuming/service.conf without the variable).
std::string configPath();
// The settings file's contents into `text`, when there is one; false, said on stderr, for a file
// that cannot be read, which is an error rather than an empty file.
bool readConfig(const std::string& path, std::string& text);
std::string usage();
// Where the database lives when --db is not given: the user's data folder.
std::string defaultDbPath();
// The database of this user's own service (--user).
std::string userDbPath();
// "host:port", with an IPv6 host in brackets.
std::string hostPort(const std::string& host, int port);

} // namespace yuming::service
