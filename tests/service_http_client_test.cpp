// The HTTP client against a real loopback server: answers passed through, redirects, servers
// that misbehave, connections that fail, TLS, and requests cut short by the client's end.
#include "net/http_client.h"

#include "support/rdap_fixture.h"
#include "support/script_server.h"

#include <boost/asio/io_context.hpp>

#include <gtest/gtest.h>

#include <memory>

using namespace yuming;
using namespace yuming::service;
using yuming::testing::RdapFixture;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

HttpResult fetch(const std::string& url, HttpClientOptions options = {}) {
    boost::asio::io_context io;
    HttpClient client(io.get_executor(), std::move(options));
    HttpResult result;
    int calls = 0;
    client.get(url, [&](HttpResult r) {
        result = std::move(r);
        ++calls;
    });
    io.run();
    EXPECT_EQ(calls, 1);
    return result;
}

RdapFixture::Answer answer(int status, std::string body,
                           std::vector<std::pair<std::string, std::string>> headers = {}) {
    RdapFixture::Answer a;
    a.status = status;
    a.body = std::move(body);
    a.headers = std::move(headers);
    return a;
}

RdapFixture::Answer raw(std::string bytes) {
    RdapFixture::Answer a;
    a.body = std::move(bytes);
    a.raw = true;
    return a;
}

std::string chunked(const std::string& body) {
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", body.size());
    return size + body + "\r\n0\r\n\r\n";
}

} // namespace

TEST(HttpClient, PassesTheAnswerThroughWhateverItsStatus) {
    RdapFixture server;
    struct Case {
        const char* path;
        RdapFixture::Answer answer;
        std::string body;
        std::optional<std::chrono::seconds> retryAfter;
    };
    const Case cases[] = {
        {"ok", answer(200, R"({"ldhName":"example.com"})"), R"({"ldhName":"example.com"})", {}},
        {"missing", answer(404, "{}"), "{}", {}},
        {"busy", answer(429, "", {{"Retry-After", "120"}}), "", 120s},
        {"down", answer(503, "", {{"Retry-After", "Sun, 06 Nov 1994 08:49:37 GMT"}}), "", 0s},
        {"chunked", answer(200, chunked("hello"), {{"Transfer-Encoding", "chunked"}}), "hello", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        server.set(std::string("/rdap/") + c.path, c.answer);
        const HttpResult result = fetch(server.baseUrl() + c.path);
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.status, c.answer.status);
        EXPECT_EQ(result.body, c.body);
        EXPECT_EQ(result.contentType, "application/rdap+json");
        EXPECT_EQ(result.retryAfter, c.retryAfter);
        EXPECT_EQ(result.url, server.baseUrl() + c.path);
    }
    EXPECT_EQ(server.lastRequest("/rdap/ok"),
              "GET /rdap/ok HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                  "\r\nUser-Agent: yuming-service/1.0\r\nAccept: "
                  "application/rdap+json\r\nConnection: close\r\n\r\n");
}

TEST(HttpClient, FollowsRedirectsWithinTheLimit) {
    RdapFixture server;
    const std::string base = server.baseUrl();
    server.set("/rdap/domain/a", answer(301, "", {{"Location", "../moved/b?x=1#top"}}));
    server.set("/rdap/moved/b", answer(307, "", {{"Location", base + "final"}}));
    server.set("/rdap/final", answer(200, "{}"));
    const HttpResult followed = fetch(base + "domain/a");
    ASSERT_TRUE(followed.ok) << followed.error;
    EXPECT_EQ(followed.status, 200);
    EXPECT_EQ(followed.url, base + "final");
    EXPECT_EQ(server.lastRequest("/rdap/moved/b").substr(0, 28), "GET /rdap/moved/b?x=1 HTTP/1");

    server.set("/rdap/loop", answer(302, "", {{"Location", "/rdap/loop"}}));
    EXPECT_EQ(fetch(base + "loop").error, "more than 3 redirects");
    EXPECT_EQ(server.hits("/rdap/loop"), 4);

    server.set("/rdap/ftp", answer(302, "", {{"Location", "ftp://example.com/x"}}));
    EXPECT_EQ(fetch(base + "ftp").error, "redirect to a URL that is not http(s): ftp://example.com/x");
}

TEST(HttpClient, RedirectsStayOnPublicAddressesUnlessTheURLAskedIsNotOnOne) {
    RdapFixture server;
    const std::string base = server.baseUrl();
    const std::string port = std::to_string(server.port());
    server.set("/rdap/to_loopback",
               answer(302, "", {{"Location", "http://127.0.0.2:" + port + "/rdap/final"}}));
    server.set("/rdap/to_any", answer(302, "", {{"Location", "http://0.0.0.0:" + port + "/rdap/final"}}));
    server.set("/rdap/to_name", answer(301, "", {{"Location", "//localhost:" + port + "/rdap/final"}}));
    server.set("/rdap/final", answer(200, "{}"));
    HttpClientOptions publicBase;
    publicBase.localRedirects = HttpClientOptions::LocalRedirects::Never;
    EXPECT_EQ(fetch(base + "to_loopback", publicBase).error,
              "redirect to http://127.0.0.2:" + port +
                  "/rdap/final refused: 127.0.0.2 is a loopback address, and redirects are followed only to "
                  "public ones");
    EXPECT_EQ(fetch(base + "to_any", publicBase).error,
              "redirect to http://0.0.0.0:" + port +
                  "/rdap/final refused: 0.0.0.0 is an unspecified address, and redirects are followed only "
                  "to public ones");
    const std::string named = fetch(base + "to_name", publicBase).error;
    EXPECT_TRUE(named.starts_with("redirect to http://localhost:" + port +
                                  "/rdap/final refused: localhost resolves to "))
        << named;
    EXPECT_NE(named.find(", a loopback address"), std::string::npos) << named;
    EXPECT_EQ(server.hits("/rdap/final"), 0);

    // From a registry on loopback itself, the same redirect is followed.
    const HttpResult followed = fetch(base + "to_name");
    ASSERT_TRUE(followed.ok) << followed.error;
    EXPECT_EQ(followed.url, "http://localhost:" + port + "/rdap/final");
    EXPECT_EQ(server.hits("/rdap/final"), 1);
}

TEST(HttpClient, AddressesNoPublicServerHas) {
    const std::pair<const char*, const char*> addresses[] = {{"127.0.0.2", "loopback"},
                                                             {"::1", "loopback"},
                                                             {"::ffff:127.0.0.1", "loopback"},
                                                             {"0.0.0.0", "unspecified"},
                                                             {"::", "unspecified"},
                                                             {"10.9.8.7", "private"},
                                                             {"172.31.255.255", "private"},
                                                             {"192.168.1.1", "private"},
                                                             {"fd12::1", "private"},
                                                             {"169.254.169.254", "link-local"},
                                                             {"fe80::1", "link-local"},
                                                             {"172.32.0.1", ""},
                                                             {"8.8.8.8", ""},
                                                             {"2001:4860::8888", ""},
                                                             {"::ffff:8.8.8.8", ""}};
    for (const auto& [address, kind] : addresses)
        EXPECT_EQ(nonPublicKind(boost::asio::ip::make_address(address)), kind) << address;
}

TEST(HttpClient, AMisbehavingServerEndsWithAReasonInGoodTime) {
    RdapFixture server;
    struct Case {
        const char* path;
        RdapFixture::Answer answer;
        std::string error;
    };
    RdapFixture::Answer trickle = answer(200, std::string(100, 'x'));
    trickle.trickle = true;
    RdapFixture::Answer silent = answer(200, "{}");
    silent.delay = 60s;
    const Case cases[] = {
        {"declared_too_big", answer(200, std::string(5000, 'x')), "the answer is larger than 4 KiB"},
        {"streamed_too_big", answer(200, chunked(std::string(5000, 'x')), {{"Transfer-Encoding", "chunked"}}),
         "the answer is larger than 4 KiB"},
        {"length_lie", answer(200, "abc", {{"Content-Length", "100"}}), "the answer ended early"},
        {"trickle", trickle, "the answer was not complete within 0.5 s"},
        {"silent", silent, "the answer was not complete within 0.5 s"},
        {"not_http", raw("SSH-2.0-OpenSSH_9.2\r\n"),
         "the answer from 127.0.0.1:" + std::to_string(server.port()) + " is not valid HTTP (bad version)"},
        {"nothing", raw(""),
         "127.0.0.1:" + std::to_string(server.port()) + " closed the connection without an answer"},
    };
    HttpClientOptions options;
    options.maxBytes = 4096;
    options.wholeTime = 500ms;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        server.set(std::string("/rdap/") + c.path, c.answer);
        const auto start = Clock::now();
        const HttpResult result = fetch(server.baseUrl() + c.path, options);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, c.error);
        EXPECT_LT(Clock::now() - start, 3s);
    }
    server.stopAnswering(true);
    EXPECT_EQ(fetch(server.baseUrl() + "down").error,
              "127.0.0.1:" + std::to_string(server.port()) + " closed the connection without an answer");
    EXPECT_EQ(server.hits("/rdap/down"), 1);
}

TEST(HttpClient, AURLOrAConnectionThatFailsSaysWhy) {
    const quint16 closed = ScriptServer::closedPort();
    const ScriptServer::Unaccepted full;
    HttpClientOptions options;
    options.connectTime = 300ms;
    const std::pair<std::string, std::string> cases[] = {
        {"http://127.0.0.1:" + std::to_string(closed) + "/",
         "connection refused by 127.0.0.1:" + std::to_string(closed)},
        {"http://127.0.0.1:" + std::to_string(full.port()) + "/",
         "connect to 127.0.0.1:" + std::to_string(full.port()) + " timed out after 0.3 s"},
        {"ftp://example.com/", "cannot fetch a URL that is not http(s): ftp://example.com/"},
        {"http://user@example.com/", "cannot fetch a URL with a user name: http://user@example.com/"},
        {"https:///domain/x", "cannot fetch a URL without a host: https:///domain/x"},
        {"http://example.com:70000/", "cannot fetch a URL with a bad port: http://example.com:70000/"},
    };
    for (const auto& [url, error] : cases)
        EXPECT_EQ(fetch(url, options).error, error) << url;
}

TEST(HttpUrl, TakesApartAndResolvesAgainst) {
    const HttpUrl v6 = parseHttpUrl("HTTPS://[::1]:8443/rdap?q=1#frag");
    EXPECT_TRUE(v6.https);
    EXPECT_EQ(v6.host, "::1");
    EXPECT_EQ(v6.port, 8443);
    EXPECT_EQ(v6.target, "/rdap?q=1");
    EXPECT_EQ(v6.authority(), "[::1]:8443");
    EXPECT_EQ(parseHttpUrl("http://Rdap.Example").text(), "http://rdap.example/");

    const HttpUrl base = parseHttpUrl("http://h/rdap/domain/x?a=1");
    const std::pair<const char*, const char*> references[] = {
        {"y", "http://h/rdap/domain/y"},       {"../../ip/1", "http://h/ip/1"},
        {"/abs/./p#f", "http://h/abs/p"},      {"?b=2", "http://h/rdap/domain/x?b=2"},
        {"//other:81/z", "http://other:81/z"}, {"https://s/t", "https://s/t"},
    };
    for (const auto& [reference, resolved] : references)
        EXPECT_EQ(resolveReference(base, reference), resolved) << reference;
}

TEST(HttpRetryAfter, ReadsSecondsAndEachDateForm) {
    // Sun, 06 Nov 1994 08:49:37 GMT less 100 s.
    const std::chrono::system_clock::time_point now{std::chrono::seconds(784111777 - 100)};
    const std::pair<const char*, std::optional<std::chrono::seconds>> cases[] = {
        {"120", 120s},
        {" 7 ", 7s},
        {"Sun, 06 Nov 1994 08:49:37 GMT", 100s},
        {"Sunday, 06-Nov-94 08:49:37 GMT", 100s},
        {"Sun Nov  6 08:49:37 1994", 100s},
        {"Sat, 05 Nov 1994 08:49:37 GMT", 0s},
        {"Sun, 31 Feb 1994 08:49:37 GMT", std::nullopt},
        {"soon", std::nullopt},
        {"-5", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [value, seconds] : cases)
        EXPECT_EQ(parseRetryAfter(value, now), seconds) << value;
}

TEST(HttpClient, VerifiesTheServersCertificate) {
    RdapFixture server(true);
    server.set("/rdap/help", answer(200, "{}"));
    HttpClientOptions trusting;
    trusting.caFile = server.caFile();
    const HttpResult trusted = fetch(server.baseUrl() + "help", trusting);
    ASSERT_TRUE(trusted.ok) << trusted.error;
    EXPECT_EQ(trusted.body, "{}");

    const HttpResult untrusted = fetch(server.baseUrl() + "help");
    EXPECT_FALSE(untrusted.ok);
    EXPECT_EQ(untrusted.error.rfind("certificate verify failed: ", 0), 0u) << untrusted.error;

    // Once on TLS, a redirect never leads off it.
    RdapFixture plain;
    plain.set("/rdap/final", answer(200, "{}"));
    server.set("/rdap/down", answer(302, "", {{"Location", plain.baseUrl() + "final"}}));
    EXPECT_EQ(fetch(server.baseUrl() + "down", trusting).error,
              "redirect from https to " + plain.baseUrl() + "final refused: it is not https");
    EXPECT_EQ(plain.hits("/rdap/final"), 0);

    HttpClientOptions missing;
    missing.caFile = "/nonexistent/ca.pem";
    EXPECT_EQ(fetch(server.baseUrl() + "help", missing)
                  .error.rfind("cannot use the CA file /nonexistent/ca.pem", 0),
              0u);
}

TEST(HttpClient, ManyAtOnceAndTheClientsEndStopsTheRest) {
    RdapFixture server;
    RdapFixture::Answer slow = answer(200, "{}");
    slow.delay = 100ms;
    server.set("/rdap/slow", slow);
    slow.delay = 60s;
    server.set("/rdap/never", slow);

    boost::asio::io_context io;
    auto client = std::make_unique<HttpClient>(io.get_executor());
    std::vector<HttpResult> answered;
    std::vector<std::string> stopped;
    for (int i = 0; i < 20; ++i)
        client->get(server.baseUrl() + "slow", [&](HttpResult r) { answered.push_back(std::move(r)); });
    for (int i = 0; i < 5; ++i)
        client->get(server.baseUrl() + "never", [&](HttpResult r) { stopped.push_back(r.error); });
    while (answered.size() < 20 && io.run_one_for(5s)) {
    }
    client.reset();
    const auto start = Clock::now();
    io.run();
    EXPECT_LT(Clock::now() - start, 1s);

    ASSERT_EQ(answered.size(), 20u);
    for (const HttpResult& r : answered)
        EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(stopped, std::vector<std::string>(5, "stopped"));
    EXPECT_EQ(server.hits("/rdap/never"), 5);
}
