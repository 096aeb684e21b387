#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/ip/address.hpp>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace yuming::service {

struct HttpClientOptions {
    // A CA certificate (PEM) trusted besides the system's store; empty: none.
    std::string caFile;
    // Resolving, the TCP connect and the TLS handshake together, for each address fetched.
    std::chrono::milliseconds connectTime{5000};
    // One get() from its start to the last body byte of the final answer, redirects included:
    // however the servers behave, `done` comes within this.
    std::chrono::milliseconds wholeTime{10000};
    // A body over this is refused, by its Content-Length before it is read, or as it arrives.
    std::size_t maxBytes = 1024 * 1024;
    int maxRedirects = 3;
    // Where a redirect may lead besides the public internet (loopback, private, link-local and
    // unspecified addresses, checked on what its host resolves to): only where the URL asked is
    // itself, as a registry on this machine for tests is. `Never` holds a redirect to the rule
    // even then, so it can be tried against such a registry.
    enum class LocalRedirects { LikeTheUrlAsked, Never };
    LocalRedirects localRedirects = LocalRedirects::LikeTheUrlAsked;
    // The Accept header sent.
    std::string accept = "application/rdap+json";
};

struct HttpGet {
    std::string url;
    // Sent after the client's own headers, e.g. {"If-None-Match", "\"abc\""}.
    std::vector<std::pair<std::string, std::string>> headers;
    // Not empty: the body of a 2xx final answer goes to this file (created or truncated, mode
    // 0600) instead of `body`; on any failure the file is removed. Other answers leave it alone.
    std::string bodyFile;
    // This request's bounds instead of the client's, when set.
    std::optional<std::size_t> maxBytes;
    std::optional<std::chrono::milliseconds> wholeTime;
    // Longest wait for the next bytes of the answer once it has begun; none: only wholeTime.
    std::optional<std::chrono::milliseconds> idleTime;
};

struct HttpResult {
    // An HTTP answer arrived whole, whatever its status; false: `error` says why not.
    bool ok = false;
    // Of the final answer, after redirects; on a failure, of the last answer whose header came.
    int status = 0;
    std::string contentType;
    std::string body;
    // From Retry-After on the final answer, whatever its status; a date in the past is 0.
    std::optional<std::chrono::seconds> retryAfter;
    std::string url; // the URL fetched last
    std::string error;
    // The final answer's headers, as sent; empty when absent.
    std::string lastModified;
    std::string etag;
    // Body bytes received, in `body` or in the file; on a failure, those that came before it.
    std::uint64_t bytes = 0;
    // The failure is the connection ending before the whole answer had come.
    bool cutShort = false;
};

// Fetches over HTTP and HTTPS, one connection per URL. Each get() runs on a strand
// of the executor given and calls `done` exactly once, posted to that executor: with the
// answer, with the reason there is none, or with "stopped" when the client is stopped or
// destroyed first. Requests in flight hold what they need themselves, so the client may be
// destroyed at any time, from any thread; only when the executor's context is destroyed before
// it runs them are `done` callbacks dropped uncalled.
class HttpClient {
public:
    HttpClient(boost::asio::any_io_executor executor, HttpClientOptions options = {});
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    void get(const std::string& url, std::function<void(HttpResult)> done);
    void get(HttpGet request, std::function<void(HttpResult)> done);
    // Ends every request in flight with "stopped"; later gets end that way at once. Any thread.
    void stop();

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
};

// An http or https URL taken apart. `error` is set, and the rest empty, when the URL is not one
// this client fetches.
struct HttpUrl {
    bool https = false;
    std::string host; // an IPv6 address without its brackets
    unsigned short port = 0;
    std::string target; // path and query; "/" when the URL has no path; never the fragment
    std::string error;

    bool ok() const { return error.empty(); }
    bool defaultPort() const { return port == (https ? 443 : 80); }
    // host[:port] as the Host header and messages write it.
    std::string authority() const;
    std::string text() const;
};
HttpUrl parseHttpUrl(std::string_view url);

// A Location (absolute, scheme-relative, absolute-path or relative) resolved against the URL it
// came from; the fragment is dropped.
std::string resolveReference(const HttpUrl& base, std::string_view reference);

// What kind of address no public server has ("loopback", "private", "link-local", "unspecified"),
// an IPv4 address written as IPv6 taken as the IPv4 one; empty for any other.
std::string nonPublicKind(const boost::asio::ip::address& address);

// Retry-After as delta-seconds or an HTTP-date (the fixed form, and the two obsolete ones);
// nothing when it is neither.
std::optional<std::chrono::seconds> parseRetryAfter(std::string_view value,
                                                    std::chrono::system_clock::time_point now);

// Blocking: one request on an io_context of its own, for command-line use and worker threads.
HttpResult fetchOnce(HttpGet request, HttpClientOptions options, const std::atomic<bool>* stop = nullptr);

} // namespace yuming::service
