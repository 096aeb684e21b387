#include "http/http_front.h"

#include "http/request_head.h"
#include "http/routes.h"

#include "protocol/sample_header.h"

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core/buffers_range.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

namespace yuming::service {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using boost::system::error_code;

namespace {

constexpr auto kHtml = "text/html; charset=gbk";
// After the last answer on a connection, what the client still sends is read away for this long
// before the socket closes: closing with unread input resets the connection, and the reset can
// overtake the answer.
constexpr auto kLinger = std::chrono::milliseconds(500);
constexpr std::size_t kLingerBytes = 256 * 1024;
constexpr std::size_t kReadChunk = 4096;
// Room for a chunk header, extensions and trailers while a chunked body is read past.
constexpr std::size_t kBodyBuffer = 16 * 1024;

bool keepsBody(boost::beast::string_view method, boost::beast::string_view target) {
    return method == "POST" && isApiTarget({target.data(), target.size()});
}

// A request body is read only to find where the next request begins, its bytes going nowhere;
// only a POST to the API keeps its body (bounded by the parser's body limit).
struct RequestBody {
    struct value_type {
        std::uint64_t seen = 0;
        bool keep = false;
        std::string kept;
    };

    struct reader {
        // Made with the parser, before the head is read: the head is looked at once the body begins.
        template <bool isRequest, class Fields>
        reader(http::header<isRequest, Fields>& head, value_type& body)
            : m_keeps([&head] { return keepsBody(head.method_string(), head.target()); }), m_body(body) {}
        void init(const boost::optional<std::uint64_t>&, error_code& ec) {
            ec = {};
            m_body.keep = m_keeps();
        }
        template <class Buffers> std::size_t put(const Buffers& buffers, error_code& ec) {
            ec = {};
            const std::size_t size = asio::buffer_size(buffers);
            m_body.seen += size;
            if (m_body.keep)
                for (const auto buffer : boost::beast::buffers_range_ref(buffers))
                    m_body.kept.append(static_cast<const char*>(buffer.data()), buffer.size());
            return size;
        }
        void finish(error_code& ec) { ec = {}; }

        std::function<bool()> m_keeps;
        value_type& m_body;
    };
};

using RequestParser = http::request_parser<RequestBody>;

std::string_view std_view(boost::beast::string_view text) {
    return {text.data(), text.size()};
}

// The target of a request line ("POST /api/watch/add HTTP/1.1").
std::string_view targetOf(std::string_view requestLine) {
    const auto first = requestLine.find(' ');
    if (first == std::string_view::npos) return {};
    const auto second = requestLine.find(' ', first + 1);
    return requestLine.substr(first + 1,
                              second == std::string_view::npos ? std::string_view::npos : second - first - 1);
}

template <class Message> std::string headerValue(const Message& message, http::field field) {
    const auto found = message.find(field);
    return found == message.end() ? std::string() : std::string(std_view(found->value()));
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

void writeLog(const std::string& line) {
    static std::mutex lock;
    const std::lock_guard guard(lock);
    std::fwrite(line.data(), 1, line.size(), stderr);
}

// Thousands of sockets need more than the usual soft limit of 1,024 open files; the hard limit
// is the most a process may take without privileges. Returns the limit in force.
std::size_t raiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? SIZE_MAX : static_cast<std::size_t>(limit.rlim_cur);
}

class Connection;

} // namespace

struct HttpFront::Impl {
    Impl(Routes pages, FrontLimits frontLimits);

    int bind(const std::string& host, int port);
    bool run();
    void accept();
    void onAccept(error_code ec, tcp::socket socket);
    void welcome(tcp::socket socket, bool onItsStrand);

    // Connection bookkeeping, shared by the serving threads.
    bool admit(Connection& connection, std::shared_ptr<Connection>& victim);
    std::shared_ptr<Connection> takeOldestIdle(const std::string* address);
    void markIdle(const std::shared_ptr<Connection>& connection);
    void markBusy(Connection& connection);
    void release(Connection& connection);
    void noteAnswered() { lastAnswer = Clock::now().time_since_epoch().count(); }

    // Pages are built by at most `threads` workers at a time, each one page and then back to the
    // end of the event loop's queue, so reading and accepting go on between pages. A request that
    // is its connection's first goes ahead of those on kept-alive connections, turn about with
    // them: a newcomer waits for a page or two, not for every busy client's next one.
    struct Job {
        std::shared_ptr<Connection> connection;
        Request request;
    };
    void enqueue(Job job, bool first);
    void work();

    const Routes routes;
    const FrontLimits limits;
    std::size_t maxConnections;
    std::atomic<Clock::rep> lastAnswer;

    std::mutex lock;
    std::size_t open = 0;
    std::unordered_map<std::string, std::size_t> perAddress;
    // Connections with no request under way, the longest idle first.
    std::list<std::weak_ptr<Connection>> idle;

    // Declared after the bookkeeping: connections still held by pending handlers are destroyed
    // with the io_context, and they unregister as they go.
    asio::io_context io;
    tcp::acceptor acceptor{io};
    asio::steady_timer acceptPause{io};

    // After the io_context: queued connections are released while it still exists.
    std::mutex jobLock;
    std::deque<Job> firstJobs;
    std::deque<Job> laterJobs;
    bool firstsTurn = true;
    int workers = 0;
};

namespace {

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(HttpFront::Impl& front, tcp::socket socket, std::string address, unsigned short port)
        : m_front(front), m_socket(std::move(socket)), m_timer(m_socket.get_executor()),
          m_address(std::move(address)), m_port(port), m_accepted(Clock::now()) {}

    ~Connection() { m_front.release(*this); }

    const std::string& address() const { return m_address; }
    tcp::socket::executor_type executor() { return m_socket.get_executor(); }

    void start() { awaitRequest(); }

    // Over a cap: said so, and closed.
    void refuse() { send(errorReply(503), false, false, 11); }

    // Closes the connection if it is still between requests.
    void evict() {
        if (m_phase == Phase::Waiting) close();
    }

    // The page a worker built for the request this connection queued.
    void deliver(Reply reply) {
        if (m_phase == Phase::Queued) send(std::move(reply), m_headOnly, m_keepAlive, m_version);
    }

    // Guarded by the front's lock.
    std::list<std::weak_ptr<Connection>>::iterator idleEntry;
    bool inIdle = false;
    bool counted = false;

private:
    enum class Phase { Waiting, Head, Body, Queued, Answering, Closing, Closed };

    std::string_view received() const {
        return {static_cast<const char*>(m_buffer.data().data()), m_buffer.size()};
    }

    Clock::time_point requestClock() const { return m_served == 0 ? m_accepted : Clock::now(); }

    void setDeadline(Clock::time_point when) {
        m_timer.expires_at(when);
        m_timer.async_wait([self = shared_from_this(), generation = ++m_deadlines](error_code ec) {
            if (!ec && generation == self->m_deadlines) self->onDeadline();
        });
    }

    void onDeadline() {
        switch (m_phase) {
        case Phase::Waiting:
            return close();
        case Phase::Head:
        case Phase::Body: {
            error_code ignored;
            m_socket.cancel(ignored);
            return fail(408, {});
        }
        case Phase::Queued:
            return;
        case Phase::Answering:
        case Phase::Closing:
        case Phase::Closed:
            return close();
        }
    }

    void awaitRequest() {
        m_api = false;
        m_scan = {};
        m_parser.reset();
        m_requestLine.clear();
        if (m_buffer.size() > 0) {
            // The next request was sent along with the last one.
            beginHead();
            return process();
        }
        m_phase = Phase::Waiting;
        m_front.markIdle(shared_from_this());
        setDeadline(requestClock() + m_front.limits.idleTime);
        read();
    }

    void beginHead() {
        m_front.markBusy(*this);
        m_phase = Phase::Head;
        setDeadline(requestClock() + m_front.limits.headTime);
    }

    void read() {
        const std::size_t want = m_phase == Phase::Body ? kBodyBuffer : m_front.limits.headBytes + 1;
        if (m_buffer.size() >= want) return fail(m_phase == Phase::Body ? 400 : 431, {});
        const auto space = m_buffer.prepare(std::min(kReadChunk, want - m_buffer.size()));
        if (m_readNow) {
            // A new client has usually sent its request by the time it is accepted: read it in
            // the same turn of the loop.
            m_readNow = false;
            error_code ec;
            m_socket.non_blocking(true, ec);
            const std::size_t size = m_socket.read_some(space, ec);
            if (ec != asio::error::would_block) return onRead(ec, size);
        }
        m_socket.async_read_some(
            space, [self = shared_from_this()](error_code ec, std::size_t size) { self->onRead(ec, size); });
    }

    void onRead(error_code ec, std::size_t size) {
        if (m_phase != Phase::Waiting && m_phase != Phase::Head && m_phase != Phase::Body) return;
        // End of input or an error: there is no one left to answer.
        if (ec) return close();
        m_buffer.commit(size);
        if (m_phase == Phase::Waiting) beginHead();
        process();
    }

    void process() {
        if (m_phase == Phase::Head && !readHead()) return;
        while (m_buffer.size() > 0 && !m_parser->is_done()) {
            error_code ec;
            m_buffer.consume(m_parser->put(m_buffer.data(), ec));
            if (ec == http::error::need_more) break;
            if (ec == http::error::body_limit) return fail(413, {});
            if (ec) return fail(400, "The request body is malformed.");
        }
        if (m_parser->is_done()) return answer();
        read();
    }

    // True when the head is read and the body, if any, is next.
    bool readHead() {
        const FrontLimits& limits = m_front.limits;
        m_scan = scanHead(received(), limits.headBytes, m_scan);
        switch (m_scan.outcome) {
        case HeadScan::Outcome::Partial:
            read();
            return false;
        case HeadScan::Outcome::Malformed:
            fail(400, "A line of the request does not end in CR LF.");
            return false;
        case HeadScan::Outcome::LineTooLong:
            fail(414, {});
            return false;
        case HeadScan::Outcome::TooLarge:
            fail(431, {});
            return false;
        case HeadScan::Outcome::Whole:
            break;
        }
        const std::string_view head = received().substr(m_scan.start, m_scan.end - m_scan.start);
        m_requestLine = requestLineOf(head);
        if (const HeadCheck check = checkHead(head); !check.ok()) {
            fail(check.status, check.reason);
            return false;
        }
        m_parser.emplace();
        m_parser->header_limit(static_cast<std::uint32_t>(limits.headBytes + 4));
        m_api = isApiTarget(targetOf(m_requestLine));
        m_parser->body_limit(m_api && m_requestLine.starts_with("POST ") ? limits.apiBodyBytes
                                                                         : limits.bodyBytes);
        error_code ec;
        m_parser->put(asio::buffer(head.data(), head.size()), ec);
        m_buffer.consume(m_scan.end);
        if (ec == http::error::body_limit) {
            fail(413, {});
            return false;
        }
        if (ec || !m_parser->is_header_done()) {
            fail(400, {});
            return false;
        }
        // An API request without the token is refused before its body is read: nobody without
        // it makes the service hold megabytes. What the client still sends is read past.
        if (std::optional<Reply> refused =
                m_api ? m_front.routes.refusal(headOf(m_parser->get())) : std::nullopt) {
            send(std::move(*refused), m_parser->get().method() == http::verb::head, false,
                 m_parser->get().version());
            return false;
        }
        if (!m_parser->is_done()) {
            m_phase = Phase::Body;
            m_parser->eager(true);
            setDeadline(Clock::now() + limits.bodyTime);
        }
        return true;
    }

    void answer() {
        const auto& request = m_parser->get();
        m_headOnly = request.method() == http::verb::head;
        m_keepAlive = request.keep_alive();
        m_version = request.version();
        // No deadline while the page waits for a worker: the service owes the answer.
        m_phase = Phase::Queued;
        ++m_deadlines;
        m_timer.cancel();
        Request asked = headOf(request);
        if (m_api) asked.body = std::move(m_parser->get().body().kept);
        m_front.enqueue({shared_from_this(), std::move(asked)}, m_served == 0);
    }
    // The request line, and for the API the headers it reads.
    Request headOf(const http::request<RequestBody>& request) const {
        Request head;
        head.method = std::string(std_view(request.method_string()));
        head.target = std::string(std_view(request.target()));
        if (!m_api) return head;
        head.host = headerValue(request, http::field::host);
        head.authorization = headerValue(request, http::field::authorization);
        head.contentType = headerValue(request, http::field::content_type);
        head.origin = headerValue(request, http::field::origin);
        return head;
    }

    // A request that cannot be read: whatever follows it on the connection is not a request
    // either, so the answer is the last.
    void fail(int status, std::string_view reason) {
        if (m_requestLine.empty()) m_requestLine = requestLineOf(received());
        send(m_api ? apiErrorReply(status, reason) : errorReply(status, reason), false, false, 11);
    }

    void send(Reply reply, bool headOnly, bool keepAlive, unsigned version) {
        m_phase = Phase::Answering;
        m_keepAlive = keepAlive;
        m_response = {};
        m_response.version(11);
        m_response.result(static_cast<unsigned>(reply.status));
        m_response.reason(
            boost::beast::string_view(reasonPhrase(reply.status).data(), reasonPhrase(reply.status).size()));
        m_response.set(http::field::content_type, reply.contentType.empty() ? kHtml : reply.contentType);
        if (reply.allowHeader)
            m_response.set(http::field::allow, reply.allow.empty() ? "GET, HEAD" : reply.allow);
        if (reply.sampleHeader) m_response.set(headers::kSample, headers::kSampleValue);
        if (!keepAlive)
            m_response.set(http::field::connection, "close");
        else if (version == 10)
            m_response.set(http::field::connection, "keep-alive");
        m_response.content_length(reply.body.size());
        writeLog(m_address + ':' + std::to_string(m_port) + " \"" + printable(m_requestLine) + "\" " +
                 std::to_string(reply.status) + ' ' + std::to_string(reply.body.size()) + '\n');
        if (!headOnly) m_response.body() = std::move(reply.body);
        m_front.noteAnswered();
        setDeadline(Clock::now() + m_front.limits.writeTime);
        http::async_write(m_socket, m_response,
                          [self = shared_from_this()](error_code ec, std::size_t) { self->onSent(ec); });
    }

    void onSent(error_code ec) {
        if (m_phase != Phase::Answering) return;
        if (ec) return close();
        ++m_served;
        m_response = {};
        if (m_keepAlive) return awaitRequest();
        linger();
    }

    void linger() {
        m_phase = Phase::Closing;
        error_code ignored;
        m_socket.shutdown(tcp::socket::shutdown_send, ignored);
        m_buffer.clear();
        setDeadline(Clock::now() + kLinger);
        drain();
    }

    void drain() {
        m_socket.async_read_some(m_buffer.prepare(kReadChunk),
                                 [self = shared_from_this()](error_code ec, std::size_t size) {
                                     if (self->m_phase != Phase::Closing) return;
                                     self->m_drained += size;
                                     if (ec || self->m_drained > kLingerBytes) return self->close();
                                     self->drain();
                                 });
    }

    void close() {
        if (m_phase == Phase::Closed) return;
        m_phase = Phase::Closed;
        error_code ignored;
        m_socket.close(ignored);
        m_timer.cancel();
        m_front.release(*this);
    }

    HttpFront::Impl& m_front;
    tcp::socket m_socket;
    asio::steady_timer m_timer;
    const std::string m_address;
    const unsigned short m_port;
    const Clock::time_point m_accepted;

    Phase m_phase = Phase::Waiting;
    boost::beast::flat_buffer m_buffer;
    HeadScan m_scan;
    std::optional<RequestParser> m_parser;
    std::string m_requestLine;
    http::response<http::string_body> m_response;
    bool m_keepAlive = false;
    bool m_headOnly = false;
    unsigned m_version = 11;
    std::uint64_t m_served = 0;
    std::uint64_t m_deadlines = 0;
    std::size_t m_drained = 0;
    bool m_readNow = true;
    // The request is one to the API: its errors are JSON too.
    bool m_api = false;
};

} // namespace

HttpFront::Impl::Impl(Routes pages, FrontLimits frontLimits)
    : routes(std::move(pages)), limits(frontLimits), lastAnswer(Clock::now().time_since_epoch().count()) {
    // Some descriptors stay for the database, the log and the listening socket.
    const std::size_t files = raiseOpenFileLimit();
    maxConnections = std::min(limits.maxConnections, files > 128 ? files - 64 : files / 2);
}

int HttpFront::Impl::bind(const std::string& host, int port) {
    if (port < 0 || port > 65535) return -1;
    error_code ec;
    asio::ip::address address = asio::ip::make_address(host, ec);
    if (ec) {
        tcp::resolver resolver(io);
        const auto found = resolver.resolve(host, {}, ec);
        if (ec || found.empty()) return -1;
        address = found.begin()->endpoint().address();
    }
    const tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
    // Address reuse lets a restarted service bind while old connections linger; it does not
    // let two listeners share a port (that would take SO_REUSEPORT).
    if (acceptor.open(endpoint.protocol(), ec) ||
        acceptor.set_option(tcp::acceptor::reuse_address(true), ec) || acceptor.bind(endpoint, ec) ||
        acceptor.listen(asio::socket_base::max_listen_connections, ec) || acceptor.non_blocking(true, ec)) {
        acceptor.close(ec);
        return -1;
    }
    const tcp::endpoint bound = acceptor.local_endpoint(ec);
    return ec ? -1 : bound.port();
}

bool HttpFront::Impl::run() {
    if (!acceptor.is_open()) return false;
    accept();
    const auto serve = [this] {
        while (true) {
            try {
                io.run();
                return;
            } catch (const std::exception& error) {
                writeLog(std::string("yuming-service: ") + error.what() + '\n');
            }
        }
    };
    std::vector<std::thread> helpers;
    for (int i = 1; i < limits.threads; ++i)
        helpers.emplace_back(serve);
    serve();
    for (std::thread& helper : helpers)
        helper.join();
    return true;
}

// Each new connection gets a strand of its own, and the accept completes on it, so that the
// connection can start reading at once instead of after another turn of the event loop.
void HttpFront::Impl::accept() {
    auto strand = asio::make_strand(io);
    acceptor.async_accept(strand, asio::bind_executor(strand, [this](error_code ec, tcp::socket socket) {
                              onAccept(ec, std::move(socket));
                          }));
}

void HttpFront::Impl::onAccept(error_code ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted || !acceptor.is_open()) return;
    if (ec) {
        // Out of descriptors, most likely: wait for some connections to end instead of spinning.
        acceptPause.expires_after(std::chrono::milliseconds(50));
        acceptPause.async_wait([this](error_code waited) {
            if (!waited) accept();
        });
        return;
    }
    welcome(std::move(socket), true);
    // One accept per turn of the loop would let busy connections crowd new ones out: everyone
    // already waiting is taken now (within reason; the rest next turn).
    for (int more = 0; more < 128; ++more) {
        tcp::socket next(asio::make_strand(io));
        if (acceptor.accept(next, ec)) break;
        welcome(std::move(next), false);
    }
    accept();
}

void HttpFront::Impl::welcome(tcp::socket socket, bool onItsStrand) {
    error_code ec;
    socket.set_option(tcp::no_delay(true), ec);
    const tcp::endpoint peer = socket.remote_endpoint(ec);
    if (ec) return;
    auto connection =
        std::make_shared<Connection>(*this, std::move(socket), peer.address().to_string(), peer.port());
    std::shared_ptr<Connection> victim;
    const bool admitted = admit(*connection, victim);
    if (victim) asio::post(victim->executor(), [victim] { victim->evict(); });
    const auto begin = [connection, admitted] {
        if (admitted)
            connection->start();
        else
            connection->refuse();
    };
    if (onItsStrand)
        begin();
    else
        asio::post(connection->executor(), begin);
}

bool HttpFront::Impl::admit(Connection& connection, std::shared_ptr<Connection>& victim) {
    const std::lock_guard guard(lock);
    std::size_t& fromAddress = perAddress[connection.address()];
    const bool addressFull = fromAddress >= limits.maxPerAddress;
    const bool full = open >= maxConnections;
    // Near the cap, every new connection costs an idle one, so room remains for clients that
    // are waiting for an answer.
    if (addressFull)
        victim = takeOldestIdle(&connection.address());
    else if (open >= maxConnections - maxConnections / 8)
        victim = takeOldestIdle(nullptr);
    if ((addressFull || full) && !victim) {
        if (fromAddress == 0) perAddress.erase(connection.address());
        return false;
    }
    ++open;
    ++fromAddress;
    connection.counted = true;
    return true;
}

std::shared_ptr<Connection> HttpFront::Impl::takeOldestIdle(const std::string* address) {
    for (auto entry = idle.begin(); entry != idle.end(); ++entry) {
        // A connection being destroyed cannot be locked; it takes its own entry out.
        std::shared_ptr<Connection> connection = entry->lock();
        if (!connection || (address && connection->address() != *address)) continue;
        idle.erase(entry);
        connection->inIdle = false;
        return connection;
    }
    return nullptr;
}

void HttpFront::Impl::markIdle(const std::shared_ptr<Connection>& connection) {
    const std::lock_guard guard(lock);
    if (connection->inIdle) return;
    connection->idleEntry = idle.insert(idle.end(), connection);
    connection->inIdle = true;
}

void HttpFront::Impl::markBusy(Connection& connection) {
    const std::lock_guard guard(lock);
    if (!connection.inIdle) return;
    idle.erase(connection.idleEntry);
    connection.inIdle = false;
}

void HttpFront::Impl::release(Connection& connection) {
    const std::lock_guard guard(lock);
    if (connection.inIdle) idle.erase(connection.idleEntry);
    connection.inIdle = false;
    if (!connection.counted) return;
    connection.counted = false;
    --open;
    if (const auto found = perAddress.find(connection.address());
        found != perAddress.end() && --found->second == 0)
        perAddress.erase(found);
}

void HttpFront::Impl::enqueue(Job job, bool first) {
    const std::lock_guard guard(jobLock);
    (first ? firstJobs : laterJobs).push_back(std::move(job));
    if (workers >= limits.threads) return;
    ++workers;
    asio::post(io, [this] { work(); });
}

void HttpFront::Impl::work() {
    Job job;
    {
        const std::lock_guard guard(jobLock);
        const bool first = !firstJobs.empty() && (firstsTurn || laterJobs.empty());
        std::deque<Job>& from = first ? firstJobs : laterJobs;
        if (from.empty()) {
            --workers;
            return;
        }
        firstsTurn = !first;
        job = std::move(from.front());
        from.pop_front();
    }
    // A lookup that asks a registry responds later, from elsewhere; this worker goes on at once.
    const auto executor = job.connection->executor();
    auto respond = [executor, connection = job.connection](Reply reply) {
        asio::post(executor, [connection, reply = std::move(reply)]() mutable {
            connection->deliver(std::move(reply));
        });
    };
    try {
        routes.answer(job.request, respond);
    } catch (const std::exception&) {
        respond(errorReply(500));
    }
    asio::post(io, [this] { work(); });
}

HttpFront::HttpFront(Routes routes, FrontLimits limits)
    : m_impl(std::make_unique<Impl>(std::move(routes), limits)) {}

HttpFront::~HttpFront() = default;

int HttpFront::bind(const std::string& host, int port) {
    return m_impl->bind(host, port);
}

bool HttpFront::run() {
    return m_impl->run();
}

void HttpFront::stop() {
    m_impl->io.stop();
}

std::chrono::steady_clock::duration HttpFront::idleFor() const {
    const Clock::duration last(m_impl->lastAnswer.load());
    return Clock::now().time_since_epoch() - last;
}

} // namespace yuming::service
