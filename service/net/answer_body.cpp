#include "net/answer_body.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace yuming::service {

AnswerBody::value_type::~value_type() {
    if (m_fd >= 0) ::close(m_fd);
}

bool AnswerBody::value_type::failed(const char* what, int error) {
    if (m_fileError.empty())
        m_fileError = std::string("cannot ") + what + ' ' + m_file + ": " + std::strerror(error);
    return false;
}

bool AnswerBody::value_type::openFile() {
    if (m_file.empty()) return true;
    if (m_discarded) return failed("write", ECANCELED);
    m_fd = ::open(m_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (m_fd < 0) return failed("write", errno);
    m_opened = true;
    // A file that was there already keeps its mode through O_CREAT; the list may be private.
    struct stat info {};
    if (::fstat(m_fd, &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 07777) != 0600 &&
        ::fchmod(m_fd, 0600) != 0)
        return failed("write", errno);
    return true;
}

bool AnswerBody::value_type::append(const char* data, std::size_t size) {
    if (m_discarded) return failed("write", ECANCELED);
    m_bytes += size;
    if (m_fd < 0) {
        text.append(data, size);
        return true;
    }
    while (size > 0) {
        const ssize_t written = ::write(m_fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return failed("write", written < 0 ? errno : ENOSPC);
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool AnswerBody::value_type::closeFile() {
    if (m_fd < 0) return true;
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) return failed("write", errno);
    return true;
}

void AnswerBody::value_type::discard() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_discarded = true;
    if (!m_file.empty()) ::unlink(m_file.c_str());
}

} // namespace yuming::service
