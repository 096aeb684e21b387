#include "http_front.h"

#include "bounded_server.h"
#include "pages.h"
#include "search/request.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <mutex>

namespace yuming::service {

namespace {

constexpr auto kHtml = "text/html; charset=gbk";
// Request line and header lines together; a client that needs more is not a browser or the tool.
constexpr std::size_t kHeaderLimit = 8 * 1024;
// A client that sends nothing for this long loses its connection, so idle and stalled clients
// do not hold serving threads.
constexpr time_t kIdleSeconds = 3;
// Threads that serve connections; a kept-alive connection holds one until it goes idle or its
// request runs out of time. Idle threads cost little, so there are many.
constexpr std::size_t kServingThreads = 64;
constexpr BoundedServer::Limits kLimits{.requestBytes = 2 * kHeaderLimit,
                                        .requestTime = std::chrono::seconds(5)};

std::string utf8(QStringView text) {
    return text.toString().toStdString();
}

// httplib matches paths as regular expressions; ours are plain text.
std::string exactPath(QStringView path) {
    std::string out;
    for (char c : utf8(path)) {
        if (std::string_view(".^$|()[]{}*+?\\").find(c) != std::string_view::npos) out += '\\';
        out += c;
    }
    return out;
}

std::string_view queryOf(const std::string& target) {
    const auto mark = target.find('?');
    return mark == std::string::npos ? std::string_view{} : std::string_view(target).substr(mark + 1);
}

// The log stays plain ASCII whatever the client sent.
std::string printable(std::string_view raw) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : raw) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
            continue;
        }
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
    return out;
}

void logRequest(const httplib::Request& req, const httplib::Response& res) {
    static std::mutex lock;
    const std::string line = req.remote_addr + ':' + std::to_string(req.remote_port) + " \"" + req.method +
                             ' ' + printable(req.target) + ' ' + req.version + "\" " +
                             std::to_string(res.status) + ' ' + std::to_string(res.body.size()) + '\n';
    const std::lock_guard guard(lock);
    std::fwrite(line.data(), 1, line.size(), stderr);
}

std::size_t headerBytes(const httplib::Request& req) {
    std::size_t total = req.method.size() + req.target.size() + req.version.size() + 4;
    for (const auto& [name, value] : req.headers)
        total += name.size() + value.size() + 4;
    return total;
}

void sendPage(httplib::Response& res, int status, std::string body) {
    res.status = status;
    res.set_content(std::move(body), kHtml);
}

std::string messageFor(int status) {
    switch (status) {
    case 400:
        return "The request could not be read.";
    case 404:
        return "No such page.";
    case 405:
        return "Only GET is served here.";
    case 408:
        return "The request did not arrive in time.";
    case 413:
        return "The request body is too large.";
    case 414:
        return "The request target is too long.";
    case 431:
        return "The request headers are too large.";
    default:
        return "The request failed.";
    }
}

// Each serving thread keeps its own read-only connection for lookups.
Store& threadStore(const std::string& path) {
    thread_local std::unique_ptr<Store> store;
    if (!store) store = std::make_unique<Store>(path);
    return *store;
}

} // namespace

HttpFront::HttpFront(const Catalog& catalog, std::string dbPath)
    : m_catalog(catalog), m_dbPath(std::move(dbPath)), m_server(std::make_unique<BoundedServer>(kLimits)),
      m_lastRequest(std::chrono::steady_clock::now().time_since_epoch().count()) {
    route();
}

HttpFront::~HttpFront() = default;

void HttpFront::route() {
    httplib::Server& server = *m_server;
    // httplib takes ownership of the queue it is handed and deletes it when serving ends.
    server.new_task_queue = [] { return new httplib::ThreadPool(kServingThreads); };
    server.set_keep_alive_max_count(10000);
    server.set_keep_alive_timeout(kIdleSeconds);
    server.set_read_timeout(kIdleSeconds, 0);
    server.set_write_timeout(kIdleSeconds, 0);
    // Only GET is served; a body is read (to keep the connection in step) but never used.
    server.set_payload_max_length(kHeaderLimit);
    server.set_tcp_nodelay(true);
    // httplib's default also sets SO_REUSEPORT, which lets a second service bind the same port
    // and silently share its connections. A port in use must be an error.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    server.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        m_lastRequest = std::chrono::steady_clock::now().time_since_epoch().count();
        logRequest(req, res);
    });

    server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
        if (headerBytes(req) <= kHeaderLimit) return httplib::Server::HandlerResponse::Unhandled;
        sendPage(res, 431, errorPage(431, messageFor(431)));
        return httplib::Server::HandlerResponse::Handled;
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return;
        if (BoundedServer::requestTooLarge())
            res.status = 431;
        else if (BoundedServer::requestTimedOut())
            res.status = 408;
        // httplib could not read the request: whatever follows on the connection is not a
        // request either, so the connection ends with this answer.
        if (res.status == 400 || res.status == 408 || res.status == 413 || res.status == 414 ||
            res.status == 431) {
            BoundedServer::closeAfterAnswer();
            res.set_header("Connection", "close");
        }
        sendPage(res, res.status, errorPage(res.status, messageFor(res.status)));
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        sendPage(res, 500, errorPage(500, messageFor(500)));
    });

    server.Get(exactPath(paths::kSearch), [this](const httplib::Request& req, httplib::Response& res) {
        const SearchQueryResult query = decodeSearchQuery(queryOf(req.target));
        if (!query.ok()) return sendPage(res, 400, errorPage(400, query.error));
        const Catalog::Page page = m_catalog.search(query.filters, kPageSize);
        sendPage(res, 200, searchPage(m_catalog, page, query.filters.page));
    });
    server.Get(exactPath(paths::kLookup), [this](const httplib::Request& req, httplib::Response& res) {
        const std::string domain = decodeLookupDomain(queryOf(req.target));
        if (domain.empty()) return sendPage(res, 400, errorPage(400, "The domain to look up is missing."));
        Store& store = threadStore(m_dbPath);
        if (!store.isOpen()) return sendPage(res, 500, errorPage(500, "The database cannot be read."));
        std::optional<Registration> registration;
        if (const auto split = splitDomain(domain)) {
            auto read = store.registration(split->name, suffixName(split->suffix));
            if (!read.ok())
                return sendPage(res, 500, errorPage(500, "The database cannot be read: " + read.error));
            registration = std::move(read.value);
        }
        sendPage(res, 200, lookupPage(domain, registration));
    });
    server.Get(exactPath(paths::kBanner), [this](const httplib::Request&, httplib::Response& res) {
        sendPage(res, 200, bannerPage(m_catalog.size()));
    });
    // Other methods on any path: say which one is served instead of "no such page".
    const auto onlyGet = [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Allow", "GET, HEAD");
        sendPage(res, 405, errorPage(405, messageFor(405)));
    };
    server.Post(".*", onlyGet)
        .Put(".*", onlyGet)
        .Patch(".*", onlyGet)
        .Delete(".*", onlyGet)
        .Options(".*", onlyGet);
    server.Get("/", [this](const httplib::Request&, httplib::Response& res) {
        sendPage(res, 200, homePage(m_catalog.size()));
    });
}

int HttpFront::bind(const std::string& host, int port) {
    const int bound = port == 0                            ? m_server->bind_to_any_port(host)
                      : m_server->bind_to_port(host, port) ? port
                                                           : -1;
    if (bound > 0) static_cast<BoundedServer&>(*m_server).widenBacklog(SOMAXCONN);
    return bound;
}

bool HttpFront::run() {
    return m_server->listen_after_bind();
}

std::chrono::steady_clock::duration HttpFront::idleFor() const {
    const std::chrono::steady_clock::duration last(m_lastRequest.load());
    return std::chrono::steady_clock::now().time_since_epoch() - last;
}

void HttpFront::stop() {
    m_server->stop();
}

} // namespace yuming::service
