#include "app/log_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace yuming::service {

bool LogFile::open(const std::string& path, std::int64_t limit) {
    m_path = path;
    m_limit = limit;
    std::string error;
    if (reopen(error)) return true;
    std::cerr << "yuming-service: cannot open the log " << path << ": " << error << '\n';
    return false;
}

void LogFile::rotateIfFull() {
    struct stat current {};
    if (m_path.empty() || !m_regular || ::fstat(STDERR_FILENO, &current) != 0 || current.st_size < m_limit)
        return;
    // Another service logging to the same file may have moved it already; then the name
    // is a new file (or none) and only needs opening.
    struct stat named {};
    if (::stat(m_path.c_str(), &named) == 0 && named.st_dev == current.st_dev &&
        named.st_ino == current.st_ino)
        ::rename(m_path.c_str(), (m_path + ".1").c_str());
    std::string error;
    if (reopen(error)) return;
    // With no fresh file to go on in, the full one starts again rather than grow for ever;
    // a file that cannot even be emptied is left alone from now on.
    if (::ftruncate(STDERR_FILENO, 0) != 0) m_regular = false;
}

bool LogFile::reopen(std::string& error) {
    // Non-blocking, so a FIFO nobody reads is an error here instead of a hang.
    const int fd =
        ::open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
    if (fd < 0) {
        error = errno == ENXIO ? "a pipe that nobody reads" : std::strerror(errno);
        return false;
    }
    struct stat info {};
    const bool ok = ::fstat(fd, &info) == 0 && ::fcntl(fd, F_SETFL, O_APPEND) == 0 &&
                    ::dup2(fd, STDERR_FILENO) == STDERR_FILENO;
    if (!ok) error = std::strerror(errno);
    ::close(fd);
    // Only a regular file is rotated: a device or a pipe given as the log keeps no size.
    m_regular = ok && S_ISREG(info.st_mode);
    return ok;
}

} // namespace yuming::service
