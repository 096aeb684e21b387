#pragma once

#include "http/routes.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace yuming::service {

// What one client may cost the service. A connection that sends nothing, or sends a request
// slowly, holds a socket and a few kilobytes but no thread, so thousands of them do not keep
// an ordinary search waiting; the caps bound the sockets.
struct FrontLimits {
    // Open connections in all; near this, connections idle between requests are closed, oldest
    // first, to make room. Lowered to what the open-file limit allows.
    std::size_t maxConnections = 4096;
    // Open connections from one client address. Generous: every local program shares 127.0.0.1.
    std::size_t maxPerAddress = 2048;
    // Request line and header lines together; the request line alone is held to it as well.
    std::size_t headBytes = 8 * 1024;
    // A request body is never used, only read past; one larger than this ends the connection.
    std::size_t bodyBytes = 64 * 1024;
    // A POST to the API (a list of names) may be this large; it is kept, as no other body is.
    std::size_t apiBodyBytes = 2 * 1024 * 1024;
    // The whole head must arrive within this from its first byte (from accept, for the first
    // request of a connection).
    std::chrono::milliseconds headTime{5000};
    std::chrono::milliseconds bodyTime{5000};
    // A connection with no request under way is closed after this.
    std::chrono::milliseconds idleTime{3000};
    // An answer the client does not take in this long ends the connection.
    std::chrono::milliseconds writeTime{10000};
    // Threads that read, answer and write; the pages are built on them too.
    int threads = 2;
};

// The HTTP side of the service: the four pages, the error pages and the request log.
class HttpFront {
public:
    explicit HttpFront(Routes routes, FrontLimits limits = {});
    ~HttpFront();
    HttpFront(const HttpFront&) = delete;
    HttpFront& operator=(const HttpFront&) = delete;

    // Binds; port 0 picks a free port. Returns the bound port, or -1 (a port in use included).
    int bind(const std::string& host, int port);
    // Serves until stop(); false if serving could not start.
    bool run();
    // Safe from any thread, also before run() has begun.
    void stop();
    // How long since the last request was answered (or since the front was made); any thread.
    std::chrono::steady_clock::duration idleFor() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace yuming::service
