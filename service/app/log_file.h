#pragma once

#include <cstdint>
#include <string>

namespace yuming::service {

// The log in a file of the service's own: stderr is the file, and once the file has reached its
// limit it becomes FILE.1 (replacing the one before) and a new FILE is begun. Every log line is
// one write to stderr, so a line lands whole in one file or the other.
class LogFile {
public:
    // Says on stderr why not when the file cannot be opened.
    bool open(const std::string& path, std::int64_t limit);
    // Called about once a second: a busy service may pass the limit by a second's lines. Does
    // nothing when no file was opened.
    void rotateIfFull();

private:
    bool reopen(std::string& error);

    std::string m_path;
    std::int64_t m_limit = 0;
    bool m_regular = false;
};

} // namespace yuming::service
