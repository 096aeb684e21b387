// The queries the tool sends, read back the way the service reads them.
#include "protocol/lookup_request.h"
#include "protocol/search_query.h"
#include "search/request.h"
#include "search/search_state.h"
#include "text/gbk.h"

#include <QList>

#include <gtest/gtest.h>

#include <functional>

using namespace yuming;

namespace {

// What stands between "page=N" and the rest is fixed; the cases below write only what varies.
constexpr const char* kTail = "&tsym=0&d=0&do=do&page=";

struct RoundTrip {
    const char* name;
    std::function<void(SearchQuery&)> change;
    const char* wire; // the query string after "/s/?", as GBK bytes
    std::function<void(SearchFilters&)> decoded;
};

void expectSame(const SearchFilters& got, const SearchFilters& want, const char* name) {
    EXPECT_EQ(got.keyword, want.keyword) << name;
    EXPECT_EQ(got.position, want.position) << name;
    EXPECT_EQ(got.minLength, want.minLength) << name;
    EXPECT_EQ(got.maxLength, want.maxLength) << name;
    EXPECT_EQ(got.kind, want.kind) << name;
    EXPECT_EQ(got.sort, want.sort) << name;
    EXPECT_EQ(got.suffixes, want.suffixes) << name;
    EXPECT_EQ(got.page, want.page) << name;
}

SearchFilters decode(const QByteArray& wire) {
    const SearchQueryResult result = decodeSearchQuery(wire.toStdString());
    EXPECT_TRUE(result.ok()) << result.error;
    return result.filters;
}

// Every value of every field, each changed alone from the window's start state.
TEST(SearchQueryRoundTrip, EveryValueOfEveryFieldReadsBackAsSent) {
    const auto comNet = [](SearchFilters& f) { f.suffixes = Com | Net; };
    const auto and_ = [comNet](std::function<void(SearchFilters&)> more) {
        return [comNet, more](SearchFilters& f) {
            comNet(f);
            more(f);
        };
    };
    const RoundTrip cases[] = {
        {"start state", [](SearchQuery&) {}, "key=&kaiwei=radom&min=0&max=0&op=zahe&o=o_5&com=com&net=net",
         comNet},
        {"keyword folds ASCII only", [](SearchQuery& q) { q.keyword = QString::fromUtf8("AbC中文"); },
         "key=AbC\xD6\xD0\xCE\xC4&kaiwei=radom&min=0&max=0&op=zahe&o=o_5&com=com&net=net",
         and_([](SearchFilters& f) { f.keyword = "abc\xD6\xD0\xCE\xC4"; })},
        {"keyword with delimiters", [](SearchQuery& q) { q.keyword = "a&b=c+d e%"; },
         "key=a%26b%3Dc%2Bd%20e%25&kaiwei=radom&min=0&max=0&op=zahe&o=o_5&com=com&net=net",
         and_([](SearchFilters& f) { f.keyword = "a&b=c+d e%"; })},
        {"starts", [](SearchQuery& q) { q.position = KeyPosition::Starts; },
         "key=&kaiwei=starts&min=0&max=0&op=zahe&o=o_5&com=com&net=net",
         and_([](SearchFilters& f) { f.position = KeyPosition::Starts; })},
        {"ends", [](SearchQuery& q) { q.position = KeyPosition::Ends; },
         "key=&kaiwei=end&min=0&max=0&op=zahe&o=o_5&com=com&net=net",
         and_([](SearchFilters& f) { f.position = KeyPosition::Ends; })},
        {"starts or ends", [](SearchQuery& q) { q.position = KeyPosition::StartsOrEnds; },
         "key=&kaiwei=startsend&min=0&max=0&op=zahe&o=o_5&com=com&net=net",
         and_([](SearchFilters& f) { f.position = KeyPosition::StartsOrEnds; })},
        {"bounds", [](SearchQuery& q) { q.minLength = "3", q.maxLength = "12"; },
         "key=&kaiwei=radom&min=3&max=12&op=zahe&o=o_5&com=com&net=net",
         and_([](SearchFilters& f) { f.minLength = 3, f.maxLength = 12; })},
        {"bounds as typed, no number", [](SearchQuery& q) { q.minLength = "", q.maxLength = "1 2"; },
         "key=&kaiwei=radom&min=&max=1%202&op=zahe&o=o_5&com=com&net=net", comNet},
        {"letters", [](SearchQuery& q) { q.kind = CharKind::Letters; },
         "key=&kaiwei=radom&min=0&max=0&op=char&o=o_5&com=com&net=net",
         and_([](SearchFilters& f) { f.kind = CharKind::Letters; })},
        {"digits", [](SearchQuery& q) { q.kind = CharKind::Digits; },
         "key=&kaiwei=radom&min=0&max=0&op=num&o=o_5&com=com&net=net",
         and_([](SearchFilters& f) { f.kind = CharKind::Digits; })},
        {"by time", [](SearchQuery& q) { q.sort = SortKey::DeletionTime; },
         "key=&kaiwei=radom&min=0&max=0&op=zahe&o=o_1&com=com&net=net",
         and_([](SearchFilters& f) { f.sort = SortKey::DeletionTime; })},
        {"by letters", [](SearchQuery& q) { q.sort = SortKey::Alphabetical; },
         "key=&kaiwei=radom&min=0&max=0&op=zahe&o=o_2&com=com&net=net",
         and_([](SearchFilters& f) { f.sort = SortKey::Alphabetical; })},
        {"by suffix", [](SearchQuery& q) { q.sort = SortKey::Suffix; },
         "key=&kaiwei=radom&min=0&max=0&op=zahe&o=o_3&com=com&net=net",
         and_([](SearchFilters& f) { f.sort = SortKey::Suffix; })},
        {"by length", [](SearchQuery& q) { q.sort = SortKey::Length; },
         "key=&kaiwei=radom&min=0&max=0&op=zahe&o=o_4&com=com&net=net",
         and_([](SearchFilters& f) { f.sort = SortKey::Length; })},
        {"org alone", [](SearchQuery& q) { q.suffixes = Org; },
         "key=&kaiwei=radom&min=0&max=0&op=zahe&o=o_5&org=org", [](SearchFilters& f) { f.suffixes = Org; }},
        {"every suffix in its fixed order", [](SearchQuery& q) { q.suffixes = Cn | Org | Net | Com; },
         "key=&kaiwei=radom&min=0&max=0&op=zahe&o=o_5&com=com&net=net&org=org&cn=cn",
         [](SearchFilters& f) { f.suffixes = Com | Net | Org | Cn; }},
        // No suffix ticked asks for every one.
        {"no suffix", [](SearchQuery& q) { q.suffixes = 0; }, "key=&kaiwei=radom&min=0&max=0&op=zahe&o=o_5",
         [](SearchFilters& f) { f.suffixes = Com | Net | Org | Cn; }},
    };
    for (const RoundTrip& c : cases) {
        for (const std::int64_t page : {std::int64_t(0), std::int64_t(7), kMaxPage}) {
            SearchQuery query;
            c.change(query);
            query.page = page;
            const QByteArray wire = toGbk(query.encode());
            EXPECT_EQ(wire, QByteArray(c.wire) + kTail + QByteArray::number(page)) << c.name;
            SearchFilters want;
            c.decoded(want);
            want.page = page;
            expectSame(decode(wire), want, c.name);
        }
    }
    // Every set of suffixes, whatever its wire form, reads back as itself.
    for (std::uint8_t set = 1; set <= kAllSuffixes; ++set) {
        SearchQuery query;
        query.suffixes = set;
        EXPECT_EQ(decode(toGbk(query.encode())).suffixes, set) << int(set);
    }
}

TEST(SearchQuery, PresetAsksForComNetAndOrg) {
    EXPECT_EQ(presetQuery().encode(),
              "key=&kaiwei=radom&min=0&max=0&op=zahe&o=o_5&com=com&net=net&org=org&tsym=0&d=0&do=do&page=0");
}

TEST(SearchRequest, SevenLinesInGbkEndingWithAnEmptyLine) {
    SearchQuery query;
    query.keyword = QString::fromUtf8("中国");
    const QByteArray bytes = searchRequest(query, ServiceAddress{"example.test", 80});
    EXPECT_EQ(
        bytes,
        QByteArray(
            "GET /s/?key=\xD6\xD0\xB9\xFA&kaiwei=radom&min=0&max=0&op=zahe&o=o_5&com=com&net=net"
            "&tsym=0&d=0&do=do&page=0 HTTP/1.1\r\n"
            "Accept: */*\r\n"
            "Referer: http://example.test/s/?d=0&do=do\r\n"
            "Accept-Language: zh-cn\r\n"
            "User-Agent: Mozilla/4.0 (Compatible; MSIE 6.0b; Windows NT 5.1; SV1; .NET CLR 2.0.50727)\r\n"
            "Host: example.test\r\n"
            "Connection: Keep-Alive\r\n\r\n"));
}

TEST(SearchRequest, HostileKeywordsCannotBreakTheRequestLine) {
    SearchQuery query;
    query.keyword = "a b\r\nX-Injected: 1";
    const QByteArray bytes = searchRequest(query, ServiceAddress{"h", 8080});
    const QList<QByteArray> lines = bytes.split('\n');
    EXPECT_TRUE(lines[0].startsWith("GET /s/?key=a%20b%0D%0AX-Injected:%201&kaiwei="));
    EXPECT_EQ(lines[0].count(' '), 2);
    EXPECT_FALSE(bytes.contains("\nX-Injected"));
    EXPECT_TRUE(bytes.contains("Host: h:8080\r\n"));
    EXPECT_TRUE(bytes.contains("Referer: http://h:8080/s/?d=0&do=do\r\n"));
}

TEST(LookupRequestRoundTrip, TheDomainReadsBackLowerCased) {
    struct Case {
        const char* typed;
        const char* target;
        const char* referer;
        const char* decoded;
    };
    const Case cases[] = {
        {"ABC.com", "/whois/?domain=ABC.com&Whois%5B%5D=1&Whois%5B%5D=2&Whois%5B%5D=3",
         "/whois/?domain=ABC.com&Whois%5B%5D=2&Whois%5B%5D=3", "abc.com"},
        {"a b&c", "/whois/?domain=a%20b%26c&Whois%5B%5D=1&Whois%5B%5D=2&Whois%5B%5D=3",
         "/whois/?domain=a%20b%26c&Whois%5B%5D=2&Whois%5B%5D=3", "a b&c"},
        {"中国.cn", "/whois/?domain=中国.cn&Whois%5B%5D=1&Whois%5B%5D=2&Whois%5B%5D=3",
         "/whois/?domain=中国.cn&Whois%5B%5D=2&Whois%5B%5D=3", "\xD6\xD0\xB9\xFA.cn"},
    };
    for (const Case& c : cases) {
        const LookupRequest::Encoded encoded = LookupRequest{QString::fromUtf8(c.typed)}.encode();
        EXPECT_EQ(encoded.target, QString::fromUtf8(c.target)) << c.typed;
        EXPECT_EQ(encoded.referer, QString::fromUtf8(c.referer)) << c.typed;
        const QByteArray query = toGbk(encoded.target).mid(QByteArray("/whois/?").size());
        EXPECT_EQ(decodeLookupDomain(query.toStdString()), c.decoded) << c.typed;
    }
}

TEST(ServiceAddressParse, AcceptsHostAndPortForms) {
    EXPECT_EQ(ServiceAddress::parse(u"example.test")->authority(), "example.test");
    EXPECT_EQ(ServiceAddress::parse(u"127.0.0.1:8080")->port, 8080);
    EXPECT_EQ(ServiceAddress::parse(u"[::1]:81")->authority(), "[::1]:81");
    for (const char16_t* bad : {u"", u":80", u"h:0", u"h:70000", u"h:x", u"a b", u"::1"})
        EXPECT_FALSE(ServiceAddress::parse(bad).has_value()) << QString::fromUtf16(bad).toStdString();
}

} // namespace
