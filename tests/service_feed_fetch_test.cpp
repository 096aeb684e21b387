// Lists fetched into a file against a real loopback server: the conditional request, what a
// 200 and a 304 leave, and every way a fetch can fail leaving no file behind.
#include "net/feed_fetch.h"
#include "net/http_client.h"

#include "support/rdap_fixture.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace yuming::service;
using yuming::testing::RdapFixture;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

RdapFixture::Answer answer(int status, std::string body,
                           std::vector<std::pair<std::string, std::string>> headers = {}) {
    RdapFixture::Answer a;
    a.status = status;
    a.contentType = "text/csv";
    a.body = std::move(body);
    a.headers = std::move(headers);
    return a;
}

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

struct Folder {
    QTemporaryDir dir;
    std::string path(const char* name) const { return dir.filePath(name).toStdString(); }
};

} // namespace

TEST(FeedFetch, AskedConditionallyTakesA200AndA304LeavesNothing) {
    RdapFixture server;
    Folder folder;
    const std::string list = "example.com,2026-12-10\nexample.net,2026-12-11\n";
    server.setSequence(
        "/rdap/list.csv",
        {answer(200, list, {{"Last-Modified", "Wed, 09 Dec 2026 06:00:00 GMT"}, {"ETag", "\"v1\""}}),
         answer(304, "")});
    FeedFetchRequest request;
    request.url = server.baseUrl() + "list.csv";
    request.bodyFile = folder.path("list.part");

    const FeedFetchOutcome taken = fetchToFile(request);
    ASSERT_EQ(taken.kind, FeedFetchOutcome::Kind::Taken) << taken.error;
    EXPECT_EQ(taken.status, 200);
    EXPECT_EQ(taken.bytes, 46u);
    EXPECT_EQ(taken.validators.lastModified, "Wed, 09 Dec 2026 06:00:00 GMT");
    EXPECT_EQ(taken.validators.etag, "\"v1\"");
    EXPECT_EQ(taken.url, request.url);
    EXPECT_EQ(contents(request.bodyFile), list);
    EXPECT_EQ(fs::status(request.bodyFile).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    const std::string host = "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";
    EXPECT_EQ(server.lastRequest("/rdap/list.csv"), "GET /rdap/list.csv HTTP/1.1\r\n" + host +
                                                        "User-Agent: yuming-service/1.0\r\nAccept: */*\r\n"
                                                        "Connection: close\r\n\r\n");

    request.validators = taken.validators;
    const FeedFetchOutcome same = fetchToFile(request);
    EXPECT_EQ(same.kind, FeedFetchOutcome::Kind::NotModified) << same.error;
    EXPECT_EQ(same.status, 304);
    EXPECT_TRUE(same.error.empty());
    EXPECT_FALSE(fs::exists(request.bodyFile));
    EXPECT_EQ(server.lastRequest("/rdap/list.csv"),
              "GET /rdap/list.csv HTTP/1.1\r\n" + host +
                  "User-Agent: yuming-service/1.0\r\nAccept: */*\r\nConnection: close\r\n"
                  "If-Modified-Since: Wed, 09 Dec 2026 06:00:00 GMT\r\nIf-None-Match: \"v1\"\r\n\r\n");
}

TEST(FeedFetch, ABodyOfMegabytesGoesToTheFileWholeAfterARedirect) {
    RdapFixture server;
    Folder folder;
    std::string big;
    for (int i = 0; big.size() < 3 * 1024 * 1024; ++i)
        big += "name" + std::to_string(i) + ".com,2026-12-10\n";
    server.set("/rdap/latest", answer(302, "", {{"Location", "big.csv"}}));
    server.set("/rdap/big.csv", answer(200, big));
    FeedFetchRequest request;
    request.url = server.baseUrl() + "latest";
    request.bodyFile = folder.path("big.part");
    const FeedFetchOutcome taken = fetchToFile(request);
    ASSERT_EQ(taken.kind, FeedFetchOutcome::Kind::Taken) << taken.error;
    EXPECT_EQ(taken.url, server.baseUrl() + "big.csv");
    EXPECT_EQ(taken.bytes, big.size());
    EXPECT_TRUE(contents(request.bodyFile) == big);
}

TEST(FeedFetch, EveryFailureSaysWhyAndLeavesNoFile) {
    RdapFixture server;
    RdapFixture secure(true);
    Folder folder;
    const std::string port = std::to_string(server.port());
    RdapFixture::Answer stalling = answer(200, "example.com,2026-12-10\n");
    stalling.trickle = true;
    stalling.trickleStep = 3s;
    server.set("/rdap/big", answer(200, std::string(5000, 'x')));
    server.set("/rdap/cut", answer(200, "example.com,2026", {{"Content-Length", "100"}}));
    server.set("/rdap/loop", answer(302, "", {{"Location", "/rdap/loop"}}));
    server.set("/rdap/broken", answer(500, "oops"));
    server.set("/rdap/busy", answer(503, "", {{"Retry-After", "120"}}));
    server.set("/rdap/stall", stalling);
    server.set("/rdap/plain", answer(304, ""));
    server.set("/rdap/ok", answer(200, "example.com,2026-12-10\n"));
    secure.set("/rdap/ok", answer(200, "example.com,2026-12-10\n"));
    fs::create_symlink("/dev/full", folder.path("full.part"));

    struct Case {
        const char* what;
        std::string url;
        std::string file;
        std::string error;
        int status;
    };
    const std::string at = server.baseUrl();
    const std::string otherHost = "https://localhost:" + std::to_string(secure.port()) + "/rdap/ok";
    const Case cases[] = {
        {"over the bound", at + "big", folder.path("a"), "the answer is larger than 4 KiB", 200},
        {"cut", at + "cut", folder.path("b"), "the answer was cut short after 16 bytes", 200},
        {"loop", at + "loop", folder.path("c"), "more than 3 redirects", 302},
        {"500", at + "broken", folder.path("d"), "the server answered 500", 500},
        {"503", at + "busy", folder.path("e"), "the server answered 503", 503},
        {"stall", at + "stall", folder.path("f"), "the answer stalled: nothing came for 0.3 s", 0},
        {"304 unasked", at + "plain", folder.path("g"),
         "the server answered 304 to a request that was not conditional", 304},
        {"unwritable", at + "ok", folder.path("missing/h"),
         "cannot write " + folder.path("missing/h") + ": No such file or directory", 200},
        {"disk full", at + "ok", folder.path("full.part"),
         "cannot write " + folder.path("full.part") + ": No space left on device", 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!fs::is_symlink(c.file)) std::ofstream(c.file) << "left from before";
        FeedFetchRequest request;
        request.url = c.url;
        request.bodyFile = c.file;
        request.maxBytes = 4096;
        request.idleTime = 300ms;
        const FeedFetchOutcome outcome = fetchToFile(request);
        EXPECT_EQ(outcome.kind, FeedFetchOutcome::Kind::Failed);
        EXPECT_EQ(outcome.error, c.error);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_FALSE(fs::exists(fs::symlink_status(c.file)));
    }
    EXPECT_EQ(server.hits("/rdap/loop"), 4);

    FeedFetchRequest busy;
    busy.url = at + "busy";
    EXPECT_EQ(fetchToFile(busy).retryAfter, 120s);

    FeedFetchRequest wrongName;
    wrongName.url = otherHost;
    wrongName.caFile = secure.caFile();
    wrongName.bodyFile = folder.path("i");
    const FeedFetchOutcome refused = fetchToFile(wrongName);
    EXPECT_EQ(refused.kind, FeedFetchOutcome::Kind::Failed);
    EXPECT_EQ(refused.error.rfind("certificate verify failed: ", 0), 0u) << refused.error;
    EXPECT_FALSE(fs::exists(wrongName.bodyFile));
    wrongName.url = secure.baseUrl() + "ok";
    EXPECT_EQ(fetchToFile(wrongName).kind, FeedFetchOutcome::Kind::Taken);
}

TEST(HttpClient, OnlyA2xxBodyGoesToTheFileAndBadHeadersAreNotSent) {
    RdapFixture server;
    Folder folder;
    server.set("/rdap/missing", answer(404, "no such list"));
    HttpGet get;
    get.url = server.baseUrl() + "missing";
    get.bodyFile = folder.path("kept");
    std::ofstream(get.bodyFile) << "earlier";
    const HttpResult missing = fetchOnce(get, {});
    ASSERT_TRUE(missing.ok) << missing.error;
    EXPECT_EQ(missing.body, "no such list");
    EXPECT_EQ(missing.bytes, 12u);
    EXPECT_EQ(contents(get.bodyFile), "earlier");

    get.headers = {{"X-Note", "a\r\nInjected: yes"}};
    EXPECT_EQ(fetchOnce(get, {}).error, "cannot send the request header \"X-Note\"");
    EXPECT_EQ(server.hits("/rdap/missing"), 1);
}
