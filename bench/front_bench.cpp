// What clients that hold connections do to everyone else, measured from outside against a running
// yuming-service on loopback:
//   slow    N slow clients (a request head trickled in, one byte a second; reconnecting when
//           cut off) and, on new connections meanwhile, ordinary searches: how long they take
//   busy    N keep-alive clients asking one search after another: requests per second, p99,
//           errors, how many of the N were ever answered and the fewest answers one of them got,
//           and new-connection searches meanwhile
// Each row goes to stdout as tab-separated fields (see printRow); bench/front_compare.sh runs
// this against two builds and prints the tables.
//
// usage: front_bench PORT [scenario...]   scenario: slow:N | busy:N:prefix | busy:N:contains |
//                                         mixed:SLOW:BUSY (slow and busy clients at once)
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using boost::system::error_code;

namespace {

constexpr auto kAnswerTimeout = std::chrono::seconds(10);
constexpr int kProbes = 50;
constexpr auto kProbeGap = std::chrono::milliseconds(100);
constexpr auto kBusyRun = std::chrono::seconds(5);

const char* const kKeys[] = {"zh", "an", "hao", "shop", "8", "li", "cloud", "xin", "ma", "go",
                             "wang", "88", "tian", "a", "data", "yun", "ch", "love", "bei", "52"};

std::string searchRequest(std::size_t n, const char* position) {
    return std::string("GET /s/?key=") + kKeys[n % std::size(kKeys)] + "&kaiwei=" + position +
           "&min=0&max=0&op=zahe&o=o_5&com=com&net=net&tsym=0&d=0&do=do&page=0 HTTP/1.1\r\n"
           "Host: 127.0.0.1\r\nConnection: Keep-Alive\r\n\r\n";
}

double millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Reads one answer (status line, headers with Content-Length, body) into `in`.
class AnswerReader {
public:
    // Bytes still wanted, 0 once the answer is whole; -1 if it cannot be framed.
    long long need(const std::string& in) {
        if (m_bodyStart == std::string::npos) {
            m_bodyStart = in.find("\r\n\r\n");
            if (m_bodyStart == std::string::npos) return 1;
            m_bodyStart += 4;
            m_status = in.size() > 12 ? std::atoi(in.c_str() + 9) : 0;
            std::string head = in.substr(0, m_bodyStart);
            std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
            const auto length = head.find("\r\ncontent-length:");
            if (length == std::string::npos) return -1;
            m_length = std::stoll(head.substr(length + 17));
        }
        const long long have = static_cast<long long>(in.size() - m_bodyStart);
        return std::max(0LL, m_length - have);
    }
    int status() const { return m_status; }
    std::size_t end() const { return m_bodyStart + static_cast<std::size_t>(m_length); }
    void reset() { *this = AnswerReader{}; }

private:
    std::size_t m_bodyStart = std::string::npos;
    long long m_length = 0;
    int m_status = 0;
};

struct Target {
    tcp::endpoint endpoint;
};

// One search on a new connection; the time from connecting to the whole answer, or none.
class Probe : public std::enable_shared_from_this<Probe> {
public:
    Probe(asio::io_context& io, const Target& target, std::size_t n, std::vector<double>& times, int& failed)
        : m_socket(io), m_timer(io), m_target(target), m_request(searchRequest(n, "starts")), m_times(times),
          m_failed(failed) {}

    void start() {
        m_began = Clock::now();
        m_timer.expires_after(kAnswerTimeout);
        m_timer.async_wait([self = shared_from_this()](error_code ec) {
            if (!ec) self->finish(false);
        });
        m_socket.async_connect(m_target.endpoint, [self = shared_from_this()](error_code ec) {
            if (ec) return self->finish(false);
            asio::async_write(self->m_socket, asio::buffer(self->m_request),
                              [self](error_code wrote, std::size_t) {
                                  if (wrote) return self->finish(false);
                                  self->read();
                              });
        });
    }

private:
    void read() {
        m_socket.async_read_some(asio::buffer(m_chunk), [self = shared_from_this()](error_code ec, std::size_t n) {
            self->m_in.append(self->m_chunk.data(), n);
            const long long need = self->m_reader.need(self->m_in);
            if (need == 0) return self->finish(self->m_reader.status() == 200);
            if (ec || need < 0) return self->finish(false);
            self->read();
        });
    }

    void finish(bool answered) {
        if (m_done) return;
        m_done = true;
        if (answered)
            m_times.push_back(millis(Clock::now() - m_began));
        else
            ++m_failed;
        error_code ignored;
        m_socket.close(ignored);
        m_timer.cancel();
    }

    tcp::socket m_socket;
    asio::steady_timer m_timer;
    const Target& m_target;
    std::string m_request;
    std::vector<double>& m_times;
    int& m_failed;
    std::array<char, 16384> m_chunk{};
    std::string m_in;
    AnswerReader m_reader;
    Clock::time_point m_began;
    bool m_done = false;
};

// A client that opens a request and then sends one header byte a second, never finishing.
class SlowClient : public std::enable_shared_from_this<SlowClient> {
public:
    SlowClient(asio::io_context& io, const Target& target, const std::atomic<bool>& stop)
        : m_socket(io), m_timer(io), m_target(target), m_stop(stop) {}

    void start() {
        if (m_stop) return;
        error_code ignored;
        m_socket.close(ignored);
        const int generation = ++m_generation;
        m_socket.async_connect(m_target.endpoint, [self = shared_from_this(), generation](error_code ec) {
            if (ec) return self->retry();
            self->send("GET /s/?key=a&kaiwei=starts HTTP/1.1\r\nX-Slow: ", generation);
            self->watch();
        });
    }

private:
    // One byte a second for as long as this connection (generation) lasts.
    void send(std::string bytes, int generation) {
        auto data = std::make_shared<std::string>(std::move(bytes));
        asio::async_write(m_socket, asio::buffer(*data),
                          [self = shared_from_this(), data, generation](error_code, std::size_t) {
                              self->m_timer.expires_after(std::chrono::seconds(1));
                              self->m_timer.async_wait([self, generation](error_code ec) {
                                  if (!ec && !self->m_stop && generation == self->m_generation) self->send("s", generation);
                              });
                          });
    }

    // The server may cut the connection off (with or without an answer): come back at once.
    void watch() {
        m_socket.async_read_some(asio::buffer(m_sink), [self = shared_from_this()](error_code ec, std::size_t) {
            if (!ec) return self->watch();
            self->m_timer.cancel();
            self->start();
        });
    }

    void retry() {
        m_timer.expires_after(std::chrono::milliseconds(100));
        m_timer.async_wait([self = shared_from_this()](error_code ec) {
            if (!ec) self->start();
        });
    }

    tcp::socket m_socket;
    asio::steady_timer m_timer;
    const Target& m_target;
    const std::atomic<bool>& m_stop;
    std::array<char, 4096> m_sink{};
    int m_generation = 0;
};

struct BusyTally {
    std::vector<double> times;
    long long answers = 0;
    long long errors = 0;
    std::size_t clientsAnswered = 0;
    long long fewestAnswers = 0;
};

// A keep-alive client asking one search after another until told to stop.
class BusyClient : public std::enable_shared_from_this<BusyClient> {
public:
    BusyClient(asio::io_context& io, const Target& target, std::size_t n, const char* position,
               const std::atomic<bool>& stop, BusyTally& tally)
        : m_socket(io), m_timer(io), m_target(target), m_n(n), m_position(position), m_stop(stop), m_tally(tally) {}

    void start() {
        error_code ignored;
        m_socket.close(ignored);
        m_in.clear();
        m_reader.reset();
        m_socket.async_connect(m_target.endpoint, [self = shared_from_this()](error_code ec) {
            if (ec) return self->failed();
            self->ask();
        });
    }

    long long answers() const { return m_answered; }

private:
    void ask() {
        if (m_stop) return close();
        m_request = searchRequest(m_n++, m_position);
        m_began = Clock::now();
        m_timer.expires_after(kAnswerTimeout);
        m_timer.async_wait([self = shared_from_this()](error_code ec) {
            if (!ec) self->failed();
        });
        asio::async_write(m_socket, asio::buffer(m_request), [self = shared_from_this()](error_code ec, std::size_t) {
            if (ec) return self->failed();
            self->read();
        });
    }

    void read() {
        m_socket.async_read_some(asio::buffer(m_chunk), [self = shared_from_this()](error_code ec, std::size_t n) {
            if (!self->m_socket.is_open()) return;
            self->m_in.append(self->m_chunk.data(), n);
            const long long need = self->m_reader.need(self->m_in);
            if (need == 0) return self->answered();
            // A kept-alive connection the server closed before this request: open another.
            if (ec && self->m_in.empty() && self->m_answered > 0 && !self->m_stop) {
                self->m_timer.cancel();
                return self->start();
            }
            if (ec || need < 0) return self->failed();
            self->read();
        });
    }

    void answered() {
        m_timer.cancel();
        if (m_reader.status() == 200) {
            ++m_answered;
            ++m_tally.answers;
            m_tally.times.push_back(millis(Clock::now() - m_began));
        } else {
            ++m_tally.errors;
        }
        m_in.erase(0, m_reader.end());
        m_reader.reset();
        ask();
    }

    void failed() {
        if (!m_socket.is_open()) return;
        if (!m_stop) ++m_tally.errors;
        close();
        if (m_stop) return;
        m_timer.expires_after(std::chrono::milliseconds(10));
        m_timer.async_wait([self = shared_from_this()](error_code ec) {
            if (!ec) self->start();
        });
    }

    void close() {
        error_code ignored;
        m_socket.close(ignored);
        m_timer.cancel();
    }

    tcp::socket m_socket;
    asio::steady_timer m_timer;
    const Target& m_target;
    std::size_t m_n;
    const char* m_position;
    const std::atomic<bool>& m_stop;
    BusyTally& m_tally;
    std::string m_request;
    std::array<char, 16384> m_chunk{};
    std::string m_in;
    AnswerReader m_reader;
    Clock::time_point m_began;
    long long m_answered = 0;
};

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(p * static_cast<double>(values.size()) + 0.999999);
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

struct ProbeResult {
    std::vector<double> times;
    int failed = 0;
    // Timeouts and failures count as slower than any answer in the percentiles.
    double p(double q) const {
        std::vector<double> all = times;
        all.insert(all.end(), static_cast<std::size_t>(failed), 1e9);
        return percentile(all, q);
    }
};

// kProbes searches on new connections, one started every kProbeGap, on a loop of their own.
ProbeResult probe(const Target& target) {
    asio::io_context io;
    ProbeResult result;
    asio::steady_timer pace(io);
    int started = 0;
    std::function<void()> next = [&] {
        std::make_shared<Probe>(io, target, static_cast<std::size_t>(started), result.times, result.failed)->start();
        if (++started == kProbes) return;
        pace.expires_after(kProbeGap);
        pace.async_wait([&](error_code) { next(); });
    };
    next();
    io.run();
    return result;
}

std::string ms(double value) {
    if (value < 0) return "-";
    if (value >= 1e9) return "timeout";
    char text[32];
    std::snprintf(text, sizeof text, value < 10 ? "%.2f" : "%.0f", value);
    return text;
}

// Clients of one scenario on a loop of their own, until stopped.
class Crowd {
public:
    Crowd() : m_work(asio::make_work_guard(m_io)) {}
    ~Crowd() { stop(); }

    void addSlow(const Target& target, int count) {
        for (int i = 0; i < count; ++i)
            std::make_shared<SlowClient>(m_io, target, m_stop)->start();
    }
    void addBusy(const Target& target, int count, const char* position) {
        for (int i = 0; i < count; ++i) {
            m_busy.push_back(std::make_shared<BusyClient>(m_io, target, static_cast<std::size_t>(i) * 7, position,
                                                          m_stop, m_tally));
            m_busy.back()->start();
        }
    }
    void run() {
        m_thread = std::thread([this] { m_io.run(); });
    }
    // Stops the clients; the tally then holds what they saw.
    const BusyTally& stop() {
        if (!m_thread.joinable()) return m_tally;
        m_stop = true;
        m_work.reset();
        // Clients stop at their next step; sockets still waiting are closed by ending the loop.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        m_io.stop();
        m_thread.join();
        m_tally.fewestAnswers = m_busy.empty() ? 0 : m_busy.front()->answers();
        for (const auto& client : m_busy) {
            m_tally.clientsAnswered += client->answers() > 0 ? 1 : 0;
            m_tally.fewestAnswers = std::min(m_tally.fewestAnswers, client->answers());
        }
        return m_tally;
    }

private:
    asio::io_context m_io;
    asio::executor_work_guard<asio::io_context::executor_type> m_work;
    std::atomic<bool> m_stop{false};
    std::vector<std::shared_ptr<BusyClient>> m_busy;
    BusyTally m_tally;
    std::thread m_thread;
};

void printProbe(const std::string& scenario, const ProbeResult& probes) {
    std::cout << scenario << '\t' << ms(probes.p(0.5)) << '\t' << ms(probes.p(0.99)) << '\t' << probes.failed << '/'
              << kProbes << std::endl;
}

// slow:N and mixed:SLOW:BUSY  ->  scenario  p50  p99  timed-out/probes
void slowScenario(const Target& target, const std::string& name, int slow, int busy) {
    Crowd crowd;
    crowd.addSlow(target, slow);
    crowd.addBusy(target, busy, "starts");
    crowd.run();
    std::this_thread::sleep_for(std::chrono::seconds(slow + busy > 0 ? 3 : 0));
    const ProbeResult probes = probe(target);
    crowd.stop();
    printProbe(name, probes);
}

// busy:N:POSITION  ->  scenario  req/s  p99  errors  answered/N  fewest  probe-p50  probe-p99  probe-timeouts
void busyScenario(const Target& target, const std::string& name, int busy, const char* position) {
    Crowd crowd;
    crowd.addBusy(target, busy, position);
    const auto began = Clock::now();
    crowd.run();
    ProbeResult probes;
    std::thread prober([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        probes = probe(target);
    });
    std::this_thread::sleep_until(began + kBusyRun);
    const BusyTally& tally = crowd.stop();
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    prober.join();
    std::cout << name << '\t' << static_cast<long long>(static_cast<double>(tally.answers) / seconds) << '\t'
              << ms(percentile(tally.times, 0.99)) << '\t' << tally.errors << '\t' << tally.clientsAnswered << '/'
              << busy << '\t' << tally.fewestAnswers << '\t' << ms(probes.p(0.5)) << '\t' << ms(probes.p(0.99)) << '\t' << probes.failed << '/'
              << kProbes << std::endl;
}

void raiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t colon; (colon = text.find(':', from)) != std::string::npos; from = colon + 1)
        parts.push_back(text.substr(from, colon - from));
    parts.push_back(text.substr(from));
    return parts;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::cerr << "usage: front_bench PORT scenario...  (slow:N, busy:N:prefix|contains, mixed:SLOW:BUSY)\n";
        return 2;
    }
    raiseOpenFileLimit();
    const Target target{tcp::endpoint(asio::ip::make_address("127.0.0.1"),
                                      static_cast<unsigned short>(std::atoi(argv[1])))};
    for (int i = 2; i < argc; ++i) {
        const std::string scenario = argv[i];
        const std::vector<std::string> parts = split(scenario);
        if (parts[0] == "slow" && parts.size() == 2) {
            slowScenario(target, scenario, std::stoi(parts[1]), 0);
        } else if (parts[0] == "mixed" && parts.size() == 3) {
            slowScenario(target, scenario, std::stoi(parts[1]), std::stoi(parts[2]));
        } else if (parts[0] == "busy" && parts.size() == 3 && (parts[2] == "prefix" || parts[2] == "contains")) {
            busyScenario(target, scenario, std::stoi(parts[1]), parts[2] == "prefix" ? "starts" : "radom");
        } else {
            std::cerr << "front_bench: unknown scenario " << scenario << '\n';
            return 2;
        }
        // Let connections the last scenario left behind run out on the server.
        std::this_thread::sleep_for(std::chrono::seconds(2));
    }
}
