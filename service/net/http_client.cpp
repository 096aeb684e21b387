#include "net/http_client.h"

#include "net/answer_body.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace yuming::service {

namespace asio = boost::asio;
namespace ssl = asio::ssl;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

namespace {

constexpr auto kUserAgent = "yuming-service/1.0";
// RDAP servers send a dozen short header lines; this is room for any sane answer.
constexpr std::uint32_t kHeaderLimit = 64 * 1024;
// 1xx answers before the real one; a server that sends them without end is not answering.
constexpr int kMaxInterim = 8;

std::string_view view(boost::beast::string_view text) {
    return {text.data(), text.size()};
}

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return out;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// "5 s", "0.5 s", "1.25 s".
std::string secondsText(std::chrono::milliseconds time) {
    const long long ms = std::max<long long>(time.count(), 0);
    std::string text = std::to_string(ms / 1000);
    if (ms % 1000 != 0) {
        char fraction[8];
        std::snprintf(fraction, sizeof fraction, ".%03lld", ms % 1000);
        text += fraction;
        while (text.back() == '0')
            text.pop_back();
    }
    return text + " s";
}

// "1 MiB", "64 KiB", "1000 bytes".
std::string bytesText(std::size_t bytes) {
    if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0)
        return std::to_string(bytes / (1024 * 1024)) + " MiB";
    if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes / 1024) + " KiB";
    return std::to_string(bytes) + " bytes";
}

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// RFC 3986's removal of "." and ".." segments from an absolute path.
std::string removeDotSegments(std::string_view path) {
    std::vector<std::string_view> segments;
    bool trailingSlash = false;
    std::size_t begin = path.starts_with('/') ? 1 : 0;
    while (true) {
        const std::size_t end = path.find('/', begin);
        const std::string_view segment =
            path.substr(begin, end == std::string_view::npos ? end : end - begin);
        if (segment == "." || segment == "..") {
            if (segment == ".." && !segments.empty()) segments.pop_back();
            trailingSlash = end == std::string_view::npos;
        } else {
            segments.push_back(segment);
        }
        if (end == std::string_view::npos) break;
        begin = end + 1;
    }
    std::string out;
    for (const std::string_view segment : segments) {
        out += '/';
        out += segment;
    }
    if (out.empty() || (trailingSlash && out.back() != '/')) out += '/';
    return out;
}

std::optional<std::chrono::sys_seconds> civilTime(int year, int month, int day, int hour, int minute,
                                                  int second) {
    using namespace std::chrono;
    const year_month_day date{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                              std::chrono::day{static_cast<unsigned>(day)}};
    if (!date.ok() || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60)
        return std::nullopt;
    return sys_days{date} + hours{hour} + minutes{minute} + seconds{second};
}

int monthNumber(std::string_view name) {
    static constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i)
        if (kMonths[i] == name) return i + 1;
    return 0;
}

// The three forms an HTTP-date may take: "Sun, 06 Nov 1994 08:49:37 GMT", the obsolete
// "Sunday, 06-Nov-94 08:49:37 GMT" and C's asctime() "Sun Nov  6 08:49:37 1994".
std::optional<std::chrono::sys_seconds> parseHttpDate(const std::string& text) {
    const int length = static_cast<int>(text.size());
    char month[4] = {};
    int day = 0, year = 0, hour = 0, minute = 0, second = 0, used = -1;
    if (std::sscanf(text.c_str(), "%*3[A-Za-z], %2d %3[A-Za-z] %4d %2d:%2d:%2d GMT%n", &day, month, &year,
                    &hour, &minute, &second, &used) == 6 &&
        used == length)
        return civilTime(year, monthNumber(month), day, hour, minute, second);
    used = -1;
    if (std::sscanf(text.c_str(), "%*[A-Za-z], %2d-%3[A-Za-z]-%2d %2d:%2d:%2d GMT%n", &day, month, &year,
                    &hour, &minute, &second, &used) == 6 &&
        used == length)
        return civilTime(year < 70 ? 2000 + year : 1900 + year, monthNumber(month), day, hour, minute,
                         second);
    used = -1;
    if (std::sscanf(text.c_str(), "%*3[A-Za-z] %3[A-Za-z] %2d %2d:%2d:%2d %4d%n", month, &day, &hour, &minute,
                    &second, &year, &used) == 6 &&
        used == length)
        return civilTime(year, monthNumber(month), day, hour, minute, second);
    return std::nullopt;
}

// A header name is a token; a value holds no line break or NUL, which would end the header early.
bool validHeader(std::string_view name, std::string_view value) {
    if (name.empty()) return false;
    for (const char c : name)
        if (!isAlpha(c) && !isDigit(c) &&
            std::string_view("!#$%&'*+-.^_`|~").find(c) == std::string_view::npos)
            return false;
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

class Request;

} // namespace

std::string HttpUrl::authority() const {
    std::string out = host.find(':') == std::string::npos ? host : '[' + host + ']';
    if (!defaultPort()) out += ':' + std::to_string(port);
    return out;
}

std::string HttpUrl::text() const {
    return (https ? "https://" : "http://") + authority() + target;
}

HttpUrl parseHttpUrl(std::string_view url) {
    const auto fail = [url](std::string_view why) {
        HttpUrl bad;
        bad.error = std::string(why) + ": " + std::string(url);
        return bad;
    };
    for (const unsigned char c : url)
        if (c <= 0x20 || c >= 0x7F) return fail("a URL with a space, a control or a non-ASCII character");
    HttpUrl out;
    const std::size_t colon = url.find(':');
    const std::string scheme = lower(url.substr(0, colon));
    if (colon == std::string_view::npos || (scheme != "http" && scheme != "https") ||
        !url.substr(colon + 1).starts_with("//"))
        return fail("a URL that is not http(s)");
    out.https = scheme == "https";

    const std::string_view rest = url.substr(colon + 3);
    const std::size_t authorityEnd = rest.find_first_of("/?#");
    const std::string_view authority = rest.substr(0, authorityEnd);
    if (authority.find('@') != std::string_view::npos) return fail("a URL with a user name");
    std::string_view host = authority;
    std::string_view port;
    if (authority.starts_with('[')) {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) return fail("a URL with a bad IPv6 address");
        host = authority.substr(1, close - 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty() && !after.starts_with(':')) return fail("a URL with a bad port");
        if (!after.empty()) port = after.substr(1);
        error_code ec;
        asio::ip::make_address_v6(std::string(host), ec);
        if (ec) return fail("a URL with a bad IPv6 address");
    } else {
        const std::size_t portColon = authority.find(':');
        if (portColon != std::string_view::npos) {
            host = authority.substr(0, portColon);
            port = authority.substr(portColon + 1);
        }
        for (const char c : host)
            if (!isAlpha(c) && !isDigit(c) && c != '-' && c != '.' && c != '_')
                return fail("a URL with a bad host name");
    }
    if (host.empty()) return fail("a URL without a host");
    out.host = lower(host);

    out.port = out.https ? 443 : 80;
    if (!port.empty()) {
        unsigned long number = 0;
        for (const char c : port) {
            if (!isDigit(c) || number > 65535) return fail("a URL with a bad port");
            number = number * 10 + static_cast<unsigned long>(c - '0');
        }
        if (number == 0 || number > 65535) return fail("a URL with a bad port");
        out.port = static_cast<unsigned short>(number);
    }

    const std::string_view tail =
        authorityEnd == std::string_view::npos ? std::string_view{} : rest.substr(authorityEnd);
    out.target = std::string(tail.substr(0, tail.find('#')));
    if (!out.target.starts_with('/')) out.target.insert(0, "/");
    return out;
}

std::string resolveReference(const HttpUrl& base, std::string_view reference) {
    reference = reference.substr(0, reference.find('#'));
    const std::size_t schemeEnd = reference.find(':');
    if (schemeEnd != std::string_view::npos && schemeEnd > 0 && isAlpha(reference[0]) &&
        std::all_of(reference.begin(), reference.begin() + static_cast<std::ptrdiff_t>(schemeEnd),
                    [](char c) { return isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.'; }))
        return std::string(reference);
    if (reference.starts_with("//")) return (base.https ? "https:" : "http:") + std::string(reference);

    const std::string origin = (base.https ? "https://" : "http://") + base.authority();
    const std::string_view baseTarget = base.target;
    const std::string_view basePath = baseTarget.substr(0, baseTarget.find('?'));
    if (reference.empty()) return origin + base.target;
    if (reference.starts_with('?')) return origin + std::string(basePath) + std::string(reference);

    const std::size_t queryAt = reference.find('?');
    const std::string_view path = reference.substr(0, queryAt);
    const std::string_view query =
        queryAt == std::string_view::npos ? std::string_view{} : reference.substr(queryAt);
    const std::string merged =
        path.starts_with('/') ? std::string(path)
                              : std::string(basePath.substr(0, basePath.rfind('/') + 1)) + std::string(path);
    return origin + removeDotSegments(merged) + std::string(query);
}

std::string nonPublicKind(const asio::ip::address& address) {
    if (address.is_v6()) {
        const asio::ip::address_v6 v6 = address.to_v6();
        if (v6.is_v4_mapped()) return nonPublicKind(asio::ip::make_address_v4(asio::ip::v4_mapped, v6));
        if (v6.is_loopback()) return "loopback";
        if (v6.is_unspecified()) return "unspecified";
        if (v6.is_link_local()) return "link-local";
        const asio::ip::address_v6::bytes_type bytes = v6.to_bytes();
        // fc00::/7, and the site-local addresses they replaced.
        if ((bytes[0] & 0xfe) == 0xfc || v6.is_site_local()) return "private";
        // The old IPv4-compatible form, ::a.b.c.d.
        if (std::all_of(bytes.begin(), bytes.begin() + 12, [](unsigned char b) { return b == 0; }))
            return nonPublicKind(asio::ip::address_v4({bytes[12], bytes[13], bytes[14], bytes[15]}));
        return {};
    }
    const std::uint32_t v4 = address.to_v4().to_uint();
    if (v4 >> 24 == 127) return "loopback";
    if (v4 >> 24 == 0) return "unspecified";
    if (v4 >> 24 == 10 || v4 >> 20 == 0xAC1 || v4 >> 16 == 0xC0A8) return "private";
    if (v4 >> 16 == 0xA9FE) return "link-local";
    return {};
}

std::optional<std::chrono::seconds> parseRetryAfter(std::string_view value,
                                                    std::chrono::system_clock::time_point now) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
    if (value.empty()) return std::nullopt;
    if (std::all_of(value.begin(), value.end(), isDigit)) {
        // Anything past a year is as good as never; the cap keeps the sum from overflowing.
        constexpr long long kCap = 366LL * 24 * 3600;
        long long seconds = 0;
        for (const char c : value)
            seconds = std::min(kCap, seconds * 10 + (c - '0'));
        return std::chrono::seconds(seconds);
    }
    const auto date = parseHttpDate(std::string(value));
    if (!date) return std::nullopt;
    const auto wait = std::chrono::ceil<std::chrono::seconds>(*date - now);
    return std::max(wait, std::chrono::seconds(0));
}

struct HttpClient::Shared {
    Shared(asio::any_io_executor ex, HttpClientOptions opts);

    // False once stopped: the request is not taken on.
    bool admit(const std::shared_ptr<Request>& request, std::uint64_t& id);
    void release(std::uint64_t id);
    void stopAll();

    const asio::any_io_executor executor;
    const HttpClientOptions options;
    // Configured once here and only read afterwards, so requests on any thread may share it.
    ssl::context tls{ssl::context::tls_client};
    std::string tlsError; // the CA file could not be used

    std::mutex lock;
    bool stopped = false;
    std::uint64_t nextId = 0;
    std::unordered_map<std::uint64_t, std::weak_ptr<Request>> running;
};

namespace {

// One get(): the URL, then each redirect, on a connection of its own. Every handler runs on the
// request's strand and holds the request alive; once finished, later completions do nothing.
class Request : public std::enable_shared_from_this<Request> {
public:
    Request(std::shared_ptr<HttpClient::Shared> shared, HttpGet get, std::function<void(HttpResult)> done)
        : m_shared(std::move(shared)), m_options(m_shared->options),
          m_maxBytes(get.maxBytes.value_or(m_options.maxBytes)),
          m_wholeTime(get.wholeTime.value_or(m_options.wholeTime)), m_idleTime(get.idleTime),
          m_headers(std::move(get.headers)), m_bodyFile(std::move(get.bodyFile)),
          m_strand(asio::make_strand(m_shared->executor)), m_resolver(m_strand), m_socket(m_strand),
          m_wholeTimer(m_strand), m_connectTimer(m_strand), m_idleTimer(m_strand), m_done(std::move(done)),
          m_lastUrl(std::move(get.url)) {}

    ~Request() {
        if (m_id) m_shared->release(*m_id);
    }

    void start(std::uint64_t id) {
        m_id = id;
        asio::post(m_strand, [self = shared_from_this()] { self->begin(); });
    }

    // Any thread.
    void stop() {
        asio::post(m_strand, [self = shared_from_this()] { self->fail("stopped"); });
    }

private:
    void begin() {
        if (m_finished) return;
        const HttpUrl url = parseHttpUrl(m_lastUrl);
        if (!url.ok()) return fail("cannot fetch " + url.error);
        for (const auto& [name, value] : m_headers)
            if (!validHeader(name, value)) return fail("cannot send the request header \"" + name + "\"");
        m_wholeTimer.expires_after(m_wholeTime);
        m_wholeTimer.async_wait([self = shared_from_this()](error_code ec) {
            if (!ec) self->fail("the answer was not complete within " + secondsText(self->m_wholeTime));
        });
        fetch(url);
    }

    // host:port, the port always written out, for messages.
    std::string where() const {
        const bool v6 = m_url.host.find(':') != std::string::npos;
        return (v6 ? '[' + m_url.host + ']' : m_url.host) + ':' + std::to_string(m_url.port);
    }

    void fetch(const HttpUrl& url) {
        if (url.https && !m_shared->tlsError.empty()) return fail(m_shared->tlsError);
        m_url = url;
        m_lastUrl = url.text();
        error_code ignored;
        m_socket.close(ignored);
        m_tls.reset();
        m_buffer.clear();
        m_parser.reset();
        m_connecting = true;
        m_connectTimer.expires_after(m_options.connectTime);
        m_connectTimer.async_wait([self = shared_from_this(), hop = ++m_hops](error_code ec) {
            if (!ec && self->m_connecting && hop == self->m_hops)
                self->fail("connect to " + self->where() + " timed out after " +
                           secondsText(self->m_options.connectTime));
        });
        m_resolver.async_resolve(
            m_url.host, std::to_string(m_url.port), tcp::resolver::numeric_service,
            [self = shared_from_this()](error_code ec, tcp::resolver::results_type found) {
                self->onResolved(ec, found);
            });
    }

    void onResolved(error_code ec, const tcp::resolver::results_type& found) {
        if (m_finished) return;
        if (ec) return fail("cannot resolve " + m_url.host + ": " + ec.message());
        if (const std::string refused = refusedRedirect(found); !refused.empty()) return fail(refused);
        asio::async_connect(m_socket, found,
                            [self = shared_from_this()](error_code connected, const tcp::endpoint&) {
                                self->onConnected(connected);
                            });
    }

    // A redirect may send the client anywhere, so it is held to public addresses unless the URL
    // asked was not on one itself. Every address the host resolves to is checked, as the connect
    // may use any of them. Empty when the fetch may go on.
    std::string refusedRedirect(const tcp::resolver::results_type& found) {
        for (const auto& entry : found) {
            const asio::ip::address address = entry.endpoint().address();
            const std::string kind = nonPublicKind(address);
            if (kind.empty()) continue;
            if (m_redirects == 0)
                m_localAllowed =
                    m_options.localRedirects == HttpClientOptions::LocalRedirects::LikeTheUrlAsked;
            if (m_redirects == 0 || m_localAllowed) return {};
            const std::string what = address.to_string() == m_url.host
                                         ? m_url.host + " is"
                                         : m_url.host + " resolves to " + address.to_string() + ",";
            return "redirect to " + m_url.text() + " refused: " + what + (kind[0] == 'u' ? " an " : " a ") +
                   kind + " address, and redirects are followed only to public ones";
        }
        return {};
    }

    void onConnected(error_code ec) {
        if (m_finished) return;
        if (ec == asio::error::connection_refused) return fail("connection refused by " + where());
        if (ec) return fail("cannot connect to " + where() + ": " + ec.message());
        error_code ignored;
        m_socket.set_option(tcp::no_delay(true), ignored);
        if (!m_url.https) return send();

        m_tls.emplace(m_socket, m_shared->tls);
        SSL* ssl = m_tls->native_handle();
        X509_VERIFY_PARAM* verify = SSL_get0_param(ssl);
        error_code notAddress;
        asio::ip::make_address(m_url.host, notAddress);
        if (notAddress) {
            // Server names go in SNI; addresses may not.
            SSL_set_tlsext_host_name(ssl, m_url.host.c_str());
            X509_VERIFY_PARAM_set_hostflags(verify, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
            X509_VERIFY_PARAM_set1_host(verify, m_url.host.c_str(), m_url.host.size());
        } else {
            X509_VERIFY_PARAM_set1_ip_asc(verify, m_url.host.c_str());
        }
        m_tls->async_handshake(ssl::stream_base::client,
                               [self = shared_from_this()](error_code shaken) { self->onHandshake(shaken); });
    }

    void onHandshake(error_code ec) {
        if (m_finished) return;
        if (ec) {
            const long verified = SSL_get_verify_result(m_tls->native_handle());
            if (verified != X509_V_OK)
                return fail("certificate verify failed: " +
                            std::string(X509_verify_cert_error_string(verified)) + " (" + where() + ")");
            return fail("TLS handshake with " + where() + " failed: " + ec.message());
        }
        send();
    }

    template <class Use> void withStream(Use&& use) {
        if (m_tls)
            use(*m_tls);
        else
            use(m_socket);
    }

    void send() {
        m_connecting = false;
        m_connectTimer.cancel();
        m_request = {};
        m_request.method(http::verb::get);
        m_request.target(m_url.target);
        m_request.version(11);
        m_request.set(http::field::host, m_url.authority());
        m_request.set(http::field::user_agent, kUserAgent);
        m_request.set(http::field::accept, m_options.accept);
        m_request.set(http::field::connection, "close");
        for (const auto& [name, value] : m_headers)
            m_request.insert(name, value);
        withStream([this](auto& stream) {
            http::async_write(stream, m_request, [self = shared_from_this()](error_code ec, std::size_t) {
                if (self->m_finished) return;
                if (ec)
                    return self->fail("sending the request to " + self->where() + " failed: " + ec.message());
                self->receive();
            });
        });
    }

    void receive() {
        m_parser.emplace();
        m_parser->header_limit(kHeaderLimit);
        m_parser->body_limit(m_maxBytes);
        m_parser->get().body().setFile(m_bodyFile);
        readSome();
    }

    // Piece by piece rather than with http::async_read, which in this Boost lets a body over the
    // limit through when its Content-Length already says so.
    void readSome() {
        http::async_read_some(m_reading, m_buffer, *m_parser,
                              [self = shared_from_this()](error_code ec, std::size_t) {
                                  if (self->m_finished) return;
                                  if (!ec && !self->m_parser->is_done()) return self->readSome();
                                  self->onAnswer(ec);
                              });
    }

    // The connection as the parser reads it, telling of every piece that arrives: the parser
    // itself only completes a read once it has a whole header, which a stalled server may never
    // send.
    class Reading {
    public:
        using executor_type = asio::any_io_executor;
        explicit Reading(Request& request) : m_request(request) {}
        executor_type get_executor() { return m_request.m_socket.get_executor(); }

        template <class Buffers, class Handler>
        void async_read_some(const Buffers& buffers, Handler&& handler) {
            auto counted = [this, handler = std::forward<Handler>(handler)](error_code ec,
                                                                            std::size_t read) mutable {
                if (read > 0) m_request.awaitNextBytes();
                std::move(handler)(ec, read);
            };
            if (m_request.m_tls)
                m_request.m_tls->async_read_some(buffers, std::move(counted));
            else
                m_request.m_socket.async_read_some(buffers, std::move(counted));
        }

    private:
        Request& m_request;
    };

    // Once the answer has begun, each piece of it must follow the last within the idle time.
    void awaitNextBytes() {
        if (!m_idleTime || m_finished) return;
        m_idleTimer.expires_after(*m_idleTime);
        m_idleTimer.async_wait([self = shared_from_this(), hop = m_hops](error_code ec) {
            if (!ec && hop == self->m_hops)
                self->fail("the answer stalled: nothing came for " + secondsText(*self->m_idleTime));
        });
    }

    void onAnswer(error_code ec) {
        if (m_finished) return;
        if (ec) return fail(readError(ec));
        const auto& answer = m_parser->get();
        const int status = static_cast<int>(answer.result_int());
        if (status == 101) return fail(where() + " switched protocols instead of answering");
        if (status < 200) {
            if (++m_interim > kMaxInterim) return fail(where() + " sent only interim answers");
            return receive();
        }
        const std::string_view location = view(answer[http::field::location]);
        if (isRedirect(status) && !location.empty()) {
            if (++m_redirects > m_options.maxRedirects)
                return fail("more than " + std::to_string(m_options.maxRedirects) + " redirects");
            const HttpUrl next = parseHttpUrl(resolveReference(m_url, location));
            if (!next.ok()) return fail("redirect to " + next.error);
            // What came over TLS is not sent on in the clear, where anyone on the way could answer.
            if (m_url.https && !next.https)
                return fail("redirect from https to " + next.text() + " refused: it is not https");
            return fetch(next);
        }
        AnswerBody::value_type& body = m_parser->get().body();
        // The parser's own limit is not relied on alone: whatever framing got the body here, a
        // body over the cap is never handed on.
        if (body.bytes() > m_maxBytes) return fail("the answer is larger than " + bytesText(m_maxBytes));
        // An empty body is never put, so its file is made here.
        const bool ownFile = !m_bodyFile.empty() && status / 100 == 2;
        if (ownFile && !body.opened() && !body.openFile()) return fail(body.fileError());
        if (!body.closeFile()) return fail(body.fileError());
        HttpResult result;
        result.ok = true;
        result.status = status;
        result.contentType = std::string(view(answer[http::field::content_type]));
        if (const auto retry = answer.find(http::field::retry_after); retry != answer.end())
            result.retryAfter = parseRetryAfter(view(retry->value()), std::chrono::system_clock::now());
        result.lastModified = std::string(view(answer[http::field::last_modified]));
        result.etag = std::string(view(answer[http::field::etag]));
        result.bytes = body.bytes();
        result.body = std::move(body.text);
        finish(std::move(result));
    }

    std::string readError(error_code ec) {
        if (const std::string& file = m_parser->get().body().fileError(); !file.empty()) return file;
        if (ec == http::error::body_limit) return "the answer is larger than " + bytesText(m_maxBytes);
        if (ec == http::error::header_limit)
            return "the answer's header is larger than " + bytesText(kHeaderLimit);
        const bool closed = ec == http::error::end_of_stream || ec == http::error::partial_message ||
                            ec == ssl::error::stream_truncated || ec == asio::error::eof;
        if (closed && !m_parser->got_some()) return where() + " closed the connection without an answer";
        if (closed) {
            m_cutShort = true;
            return "the answer ended early";
        }
        if (ec.category() == http::make_error_code(http::error::bad_version).category())
            return "the answer from " + where() + " is not valid HTTP (" + ec.message() + ")";
        return "the connection to " + where() + " failed: " + ec.message();
    }

    void fail(std::string error) {
        // A deadline or a stop may come after the answer: the file it left is the caller's now.
        if (m_finished) return;
        HttpResult result;
        result.error = std::move(error);
        if (m_parser) {
            AnswerBody::value_type& body = m_parser->get().body();
            result.bytes = body.bytes();
            if (m_parser->is_header_done()) result.status = static_cast<int>(m_parser->get().result_int());
            result.cutShort = m_cutShort;
            body.discard();
        } else if (!m_bodyFile.empty()) {
            ::unlink(m_bodyFile.c_str());
        }
        finish(std::move(result));
    }

    void finish(HttpResult result) {
        if (m_finished) return;
        m_finished = true;
        m_connecting = false;
        m_wholeTimer.cancel();
        m_connectTimer.cancel();
        m_idleTimer.cancel();
        m_resolver.cancel();
        error_code ignored;
        m_socket.close(ignored);
        if (m_id) m_shared->release(*m_id);
        result.url = m_lastUrl;
        if (!m_done) return;
        asio::post(m_strand, [done = std::move(m_done), result = std::move(result)]() mutable {
            done(std::move(result));
        });
    }

    const std::shared_ptr<HttpClient::Shared> m_shared;
    const HttpClientOptions& m_options;
    const std::size_t m_maxBytes;
    const std::chrono::milliseconds m_wholeTime;
    const std::optional<std::chrono::milliseconds> m_idleTime;
    const std::vector<std::pair<std::string, std::string>> m_headers;
    const std::string m_bodyFile;
    asio::strand<asio::any_io_executor> m_strand;
    tcp::resolver m_resolver;
    tcp::socket m_socket;
    std::optional<ssl::stream<tcp::socket&>> m_tls;
    asio::steady_timer m_wholeTimer;
    asio::steady_timer m_connectTimer;
    asio::steady_timer m_idleTimer;
    Reading m_reading{*this};
    boost::beast::flat_buffer m_buffer;
    http::request<http::empty_body> m_request;
    std::optional<http::response_parser<AnswerBody>> m_parser;
    std::function<void(HttpResult)> m_done;

    std::string m_lastUrl;
    std::optional<std::uint64_t> m_id;
    HttpUrl m_url;
    int m_redirects = 0;
    // The URL asked is on a loopback, private or link-local address, so its redirects may be too.
    bool m_localAllowed = false;
    int m_interim = 0;
    // Each URL fetched counts one, so a connect deadline already due cannot end the next.
    std::uint64_t m_hops = 0;
    bool m_connecting = false;
    bool m_cutShort = false;
    bool m_finished = false;
};

} // namespace

HttpClient::Shared::Shared(asio::any_io_executor ex, HttpClientOptions opts)
    : executor(std::move(ex)), options(std::move(opts)) {
    // Many servers close without TLS's close_notify; an answer's own framing says whether it came
    // whole, so the missing alert is not an error in itself.
    tls.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                    SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_min_proto_version(tls.native_handle(), TLS1_2_VERSION);
    tls.set_verify_mode(ssl::verify_peer);
    error_code ec;
    tls.set_default_verify_paths(ec);
    if (!options.caFile.empty()) {
        tls.load_verify_file(options.caFile, ec);
        if (ec) tlsError = "cannot use the CA file " + options.caFile + ": " + ec.message();
    }
}

bool HttpClient::Shared::admit(const std::shared_ptr<Request>& request, std::uint64_t& id) {
    const std::lock_guard guard(lock);
    if (stopped) return false;
    id = ++nextId;
    running.emplace(id, request);
    return true;
}

void HttpClient::Shared::release(std::uint64_t id) {
    const std::lock_guard guard(lock);
    running.erase(id);
}

void HttpClient::Shared::stopAll() {
    std::vector<std::shared_ptr<Request>> live;
    {
        const std::lock_guard guard(lock);
        stopped = true;
        for (const auto& [id, request] : running)
            if (auto alive = request.lock()) live.push_back(std::move(alive));
    }
    for (const auto& request : live)
        request->stop();
}

HttpClient::HttpClient(asio::any_io_executor executor, HttpClientOptions options)
    : m_shared(std::make_shared<Shared>(std::move(executor), std::move(options))) {}

HttpClient::~HttpClient() {
    m_shared->stopAll();
}

void HttpClient::get(const std::string& url, std::function<void(HttpResult)> done) {
    HttpGet request;
    request.url = url;
    get(std::move(request), std::move(done));
}

void HttpClient::get(HttpGet get, std::function<void(HttpResult)> done) {
    auto request = std::make_shared<Request>(m_shared, std::move(get), std::move(done));
    std::uint64_t id = 0;
    if (!m_shared->admit(request, id)) return request->stop();
    request->start(id);
}

void HttpClient::stop() {
    m_shared->stopAll();
}

HttpResult fetchOnce(HttpGet request, HttpClientOptions options, const std::atomic<bool>* stop) {
    asio::io_context io;
    HttpClient client(io.get_executor(), std::move(options));
    HttpResult result;
    bool done = false;
    asio::steady_timer watch(io);
    // `stop` is looked at ten times a second; once set, the request ends as "stopped".
    std::function<void()> look = [&] {
        watch.expires_after(std::chrono::milliseconds(100));
        watch.async_wait([&](error_code error) {
            if (error || done) return;
            if (stop->load()) return client.stop();
            look();
        });
    };
    client.get(std::move(request), [&](HttpResult answer) {
        result = std::move(answer);
        done = true;
        watch.cancel();
    });
    if (stop) look();
    io.run();
    return result;
}

} // namespace yuming::service
