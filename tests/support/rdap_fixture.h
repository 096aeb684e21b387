#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace yuming::testing {

// A loopback RDAP server that tests script: HTTP, or HTTPS with a CA and certificate for
// 127.0.0.1 made fresh for each fixture. It serves on a thread of its own from a free port, so
// a test may block while it answers; every member is safe from any thread. Connections are kept
// alive when the client asks and the answer's framing allows.
class RdapFixture {
public:
    struct Answer {
        int status = 200;
        std::string contentType = "application/rdap+json"; // empty: no Content-Type
        std::string body = {};
        // Sent after Content-Type, e.g. Retry-After or Location. A Content-Length or
        // Transfer-Encoding here replaces the fixture's own Content-Length, and `body` is sent as
        // given (pre-chunked, or shorter than declared); the connection then closes after it.
        std::vector<std::pair<std::string, std::string>> headers = {};
        std::chrono::milliseconds delay{0}; // before the answer's first byte
        bool trickle = false;               // one byte every trickleStep
        std::chrono::milliseconds trickleStep{200};
        bool raw = false; // `body` is the whole answer, no status line or headers
    };

    explicit RdapFixture(bool https = false);
    ~RdapFixture();
    RdapFixture(const RdapFixture&) = delete;
    RdapFixture& operator=(const RdapFixture&) = delete;

    // "http://127.0.0.1:PORT/rdap/" or "https://...".
    std::string baseUrl() const;
    unsigned short port() const;
    // The CA's certificate (PEM) for an HTTPS fixture; empty for HTTP.
    std::string caFile() const;

    // Paths are matched without the query, e.g. "/rdap/domain/example.com"; an unknown path is
    // answered 404.
    void set(const std::string& path, Answer answer);
    // Answered in turn; the last repeats. Starts again from the first.
    void setSequence(const std::string& path, std::vector<Answer> answers);
    // Requests received for `path` (answered or not), and when each one's head had arrived.
    int hits(const std::string& path) const;
    std::vector<std::chrono::steady_clock::time_point> hitTimes(const std::string& path) const;
    // The request line and headers of the latest request for `path`, as parsed (CR LF lines).
    std::string lastRequest(const std::string& path) const;
    // A bootstrap file in `folder` naming `base` (this fixture's baseUrl() or any other) the
    // registry of com, net and org; its path.
    static std::string writeBootstrap(const std::string& folder, const std::string& base);
    // While true the registry is down: each request is read and counted, and its connection
    // closed with no answer.
    void stopAnswering(bool down);

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace yuming::testing
