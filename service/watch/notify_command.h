#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace yuming::service {

struct CommandResult {
    enum class Outcome { Succeeded, Failed, TimedOut, NotStarted };
    Outcome outcome = Outcome::NotStarted;
    // Failed: the exit status, or -1 when a signal ended it.
    int exitCode = 0;
    std::string error;
};

// Runs the user's `command` with /bin/sh -c, with `variables` added to the service's
// environment, input from /dev/null and its output in the service's log (stderr). One still
// running after `limit` is killed, with everything it started. Blocks until it has ended.
CommandResult runBounded(const std::string& command,
                         const std::vector<std::pair<std::string, std::string>>& variables,
                         std::chrono::milliseconds limit);

} // namespace yuming::service
