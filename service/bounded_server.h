#pragma once

#include <httplib.h>

#include <chrono>
#include <cstddef>

namespace yuming::service {

// httplib's server with hard limits on what one request may cost. httplib caps each header
// line but not their number, and its read timeout restarts with every byte, so a client could
// grow a request without end or trickle it in forever. Here every request gets a byte budget
// and a deadline; past either, the read fails and the connection ends.
class BoundedServer : public httplib::Server {
public:
    struct Limits {
        // Bytes of request line, headers and body together.
        std::size_t requestBytes = 16 * 1024;
        // Time from a request's first byte to its last.
        std::chrono::milliseconds requestTime{5000};
    };

    explicit BoundedServer(Limits limits) : m_limits(limits) {}

    // httplib listens with a backlog of 5, so a burst of new connections overflows it and the
    // extra clients retry only a second later. Listening again on the bound socket widens it.
    bool widenBacklog(int backlog);

    // What went wrong with the request being read on this serving thread, for its error page.
    static bool requestTooLarge();
    static bool requestTimedOut();
    // Ends the connection after the current answer: after a request that could not be read,
    // whatever follows on the connection is not a request either.
    static void closeAfterAnswer();

private:
    bool process_and_close_socket(socket_t sock) override;
    bool waitForRequest(socket_t sock, bool buffered) const;

    Limits m_limits;
};

} // namespace yuming::service
