#include "bounded_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace yuming::service {

namespace {

thread_local bool t_tooLarge = false;
thread_local bool t_timedOut = false;
thread_local bool t_close = false;

using Clock = std::chrono::steady_clock;

int millisecondsOf(time_t sec, time_t usec) {
    return static_cast<int>(sec * 1000 + usec / 1000);
}

bool ready(socket_t sock, short events, int timeoutMs) {
    pollfd fd{sock, events, 0};
    while (true) {
        const int n = ::poll(&fd, 1, timeoutMs);
        if (n < 0 && errno == EINTR) continue;
        return n > 0 && (fd.revents & (events | POLLHUP | POLLERR));
    }
}

void addressOf(socket_t sock, bool peer, std::string& ip, int& port) {
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    const int rc = peer ? ::getpeername(sock, reinterpret_cast<sockaddr*>(&address), &length)
                        : ::getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length);
    if (rc != 0) return;
    std::array<char, INET6_ADDRSTRLEN> text{};
    if (address.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
        ::inet_ntop(AF_INET, &v4->sin_addr, text.data(), text.size());
        port = ntohs(v4->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
        ::inet_ntop(AF_INET6, &v6->sin6_addr, text.data(), text.size());
        port = ntohs(v6->sin6_port);
    }
    ip = text.data();
}

// Closing a socket with unread input makes the kernel reset the connection, and the client may
// then lose the answer it was just sent (an error page for a request cut short, typically). So
// the sending side is shut first and what the client still sends is read away, for a short while.
void closeGracefully(socket_t sock) {
    ::shutdown(sock, SHUT_WR);
    std::array<char, 4096> sink{};
    const auto until = Clock::now() + std::chrono::milliseconds(500);
    for (std::size_t drained = 0; drained < 1024 * 1024 && Clock::now() < until;) {
        if (!ready(sock, POLLIN, 100)) break;
        const ssize_t got = ::recv(sock, sink.data(), sink.size(), 0);
        if (got <= 0) break;
        drained += static_cast<std::size_t>(got);
    }
    ::close(sock);
}

// One connection's byte stream, buffered, with the budget and deadline of the current request.
class LimitedStream : public httplib::Stream {
public:
    LimitedStream(socket_t sock, int readTimeoutMs, int writeTimeoutMs)
        : m_sock(sock), m_readTimeoutMs(readTimeoutMs), m_writeTimeoutMs(writeTimeoutMs) {}

    void beginRequest(const BoundedServer::Limits& limits) {
        m_budget = limits.requestBytes;
        m_deadline = Clock::now() + limits.requestTime;
        t_tooLarge = false;
        t_timedOut = false;
        t_close = false;
    }

    bool buffered() const { return m_begin < m_end; }

    bool is_readable() const override { return buffered() || ready(m_sock, POLLIN, m_readTimeoutMs); }
    bool is_writable() const override { return ready(m_sock, POLLOUT, m_writeTimeoutMs); }

    ssize_t read(char* ptr, size_t size) override {
        if (m_budget == 0) {
            t_tooLarge = true;
            return -1;
        }
        if (!buffered()) {
            const ssize_t got = fill();
            if (got <= 0) return got;
        }
        const std::size_t n = std::min({size, m_end - m_begin, m_budget});
        std::memcpy(ptr, m_buffer.data() + m_begin, n);
        m_begin += n;
        m_budget -= n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable()) return -1;
        return ::send(m_sock, ptr, size, MSG_NOSIGNAL);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        addressOf(m_sock, true, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        addressOf(m_sock, false, ip, port);
    }
    socket_t socket() const override { return m_sock; }

private:
    ssize_t fill() {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now()).count();
        const int wait = static_cast<int>(std::min<long long>(m_readTimeoutMs, left));
        if (wait <= 0 || !ready(m_sock, POLLIN, wait)) {
            t_timedOut = true;
            return -1;
        }
        const ssize_t got = ::recv(m_sock, m_buffer.data(), m_buffer.size(), 0);
        m_begin = 0;
        m_end = got > 0 ? static_cast<std::size_t>(got) : 0;
        return got;
    }

    socket_t m_sock;
    int m_readTimeoutMs;
    int m_writeTimeoutMs;
    std::array<char, 4096> m_buffer{};
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::size_t m_budget = 0;
    Clock::time_point m_deadline;
};

} // namespace

bool BoundedServer::widenBacklog(int backlog) {
    const socket_t sock = svr_sock_;
    return sock != INVALID_SOCKET && ::listen(sock, backlog) == 0;
}

bool BoundedServer::requestTooLarge() {
    return t_tooLarge;
}
bool BoundedServer::requestTimedOut() {
    return t_timedOut;
}
void BoundedServer::closeAfterAnswer() {
    t_close = true;
}

// Waits for the next request on a kept-alive connection, in short steps so that stop() is
// noticed at once.
bool BoundedServer::waitForRequest(socket_t sock, bool buffered) const {
    if (buffered) return true;
    constexpr int kStepMs = 100;
    for (auto waited = 0; waited < keep_alive_timeout_sec_ * 1000; waited += kStepMs) {
        if (svr_sock_ == INVALID_SOCKET) return false;
        if (ready(sock, POLLIN, kStepMs)) return true;
    }
    return false;
}

bool BoundedServer::process_and_close_socket(socket_t sock) {
    LimitedStream stream(sock, millisecondsOf(read_timeout_sec_, read_timeout_usec_),
                         millisecondsOf(write_timeout_sec_, write_timeout_usec_));
    bool served = false;
    for (auto count = keep_alive_max_count_; count > 0 && svr_sock_ != INVALID_SOCKET; --count) {
        if (!waitForRequest(sock, stream.buffered())) break;
        stream.beginRequest(m_limits);
        bool closed = false;
        served = process_request(stream, count == 1, closed, nullptr);
        if (!served || closed || t_close) break;
    }
    closeGracefully(sock);
    return served;
}

} // namespace yuming::service
