#include "search/request.h"
#include "search/search_query.h"

#include <QList>

#include <gtest/gtest.h>

using namespace yuming;

namespace {

QString query(const SearchControls& controls, const QString& page = "0") {
    SearchState state;
    state.PageNo = page;
    buildSearchQuery(controls, state);
    return state.QueryString;
}

TEST(SearchQuery, StartStateWithKeywordMatchesTheServiceFormat) {
    SearchControls c;
    c.Text1 = "abc";
    EXPECT_EQ(query(c), "key=abc&kaiwei=radom&min=0&max=0&op=zahe&o=o_5&com=com&net=net&tsym=0&d=0&do=do&page=0");
}

TEST(SearchQuery, EveryOptionSendsItsValue) {
    struct Case {
        int option1, option2, option3;
        const char* want;
    };
    const Case cases[] = {
        {1, 1, 0, "kaiwei=starts&min=0&max=0&op=char&o=o_1"},
        {2, 2, 1, "kaiwei=end&min=0&max=0&op=num&o=o_2"},
        {3, 0, 2, "kaiwei=startsend&min=0&max=0&op=zahe&o=o_3"},
        {0, 0, 3, "kaiwei=radom&min=0&max=0&op=zahe&o=o_4"},
    };
    for (const Case& c : cases) {
        SearchControls controls;
        controls.Option1 = c.option1;
        controls.Option2 = c.option2;
        controls.Option3 = c.option3;
        EXPECT_TRUE(query(controls).contains(QLatin1String(c.want))) << query(controls).toStdString();
    }
}

TEST(SearchQuery, SuffixesInTheirFixedOrder) {
    struct Case {
        std::array<bool, 3> ticks;
        const char* between; // what stands between the sort key and the fixed tail
    };
    const Case cases[] = {
        {{false, false, false}, ""},
        {{false, false, true}, "&org=org"},
        {{true, true, true}, "&com=com&net=net&org=org"},
        {{false, true, false}, "&net=net"},
    };
    for (const Case& c : cases) {
        SearchControls controls;
        controls.Check1 = c.ticks;
        EXPECT_TRUE(query(controls).contains(QString("&o=o_5") + c.between + "&tsym=0&d=0&do=do&page=0"))
            << query(controls).toStdString();
    }
}

TEST(SearchQuery, TypedValuesAreSentAsTyped) {
    SearchControls c;
    c.Text1 = "";
    c.Text2 = "";
    c.Text3 = "ab";
    EXPECT_TRUE(query(c).startsWith("key=&kaiwei="));
    EXPECT_TRUE(query(c).contains("&min=&max=ab&op="));
}

TEST(SearchQuery, ASecondBuildForgetsAnUntickedSuffix) {
    SearchState state;
    SearchControls c;
    state.PageNo = "0";
    buildSearchQuery(c, state);
    c.Check1[0] = false;
    buildSearchQuery(c, state);
    EXPECT_FALSE(state.QueryString.contains("com=com"));
    EXPECT_EQ(state.SuffixPart, "&net=net");
}

TEST(SearchQuery, PresetReadsNoControlAndAsksForAllSuffixes) {
    SearchState state;
    state.PageNo = "0";
    presetFilters(state);
    composeQueryString(state);
    EXPECT_EQ(state.QueryString,
              "key=&kaiwei=radom&min=0&max=0&op=zahe&o=o_5&com=com&net=net&org=org&tsym=0&d=0&do=do&page=0");
}

TEST(SearchRequest, SevenLinesInGbkEndingWithAnEmptyLine) {
    SearchControls c;
    c.Text1 = QString::fromUtf8("中国");
    SearchState state;
    state.PageNo = "0";
    buildSearchQuery(c, state);
    const QByteArray bytes = searchRequest(state.QueryString, ServiceAddress{"example.test", 80});
    EXPECT_EQ(bytes,
              QByteArray("GET /s/?key=\xD6\xD0\xB9\xFA&kaiwei=radom&min=0&max=0&op=zahe&o=o_5&com=com&net=net"
                         "&tsym=0&d=0&do=do&page=0 HTTP/1.1\r\n"
                         "Accept: */*\r\n"
                         "Referer: http://example.test/s/?d=0&do=do\r\n"
                         "Accept-Language: zh-cn\r\n"
                         "User-Agent: Mozilla/4.0 (Compatible; MSIE 6.0b; Windows NT 5.1; SV1; .NET CLR 2.0.50727)\r\n"
                         "Host: example.test\r\n"
                         "Connection: Keep-Alive\r\n\r\n"));
}

TEST(SearchRequest, HostileKeywordsCannotBreakTheRequestLine) {
    SearchControls c;
    c.Text1 = "a b\r\nX-Injected: 1";
    SearchState state;
    state.PageNo = "0";
    buildSearchQuery(c, state);
    const QByteArray bytes = searchRequest(state.QueryString, ServiceAddress{"h", 8080});
    const QList<QByteArray> lines = bytes.split('\n');
    EXPECT_TRUE(lines[0].startsWith("GET /s/?key=a%20b%0D%0AX-Injected:%201&kaiwei="));
    EXPECT_EQ(lines[0].count(' '), 2);
    EXPECT_FALSE(bytes.contains("\nX-Injected"));
    EXPECT_TRUE(bytes.contains("Host: h:8080\r\n"));
    EXPECT_TRUE(bytes.contains("Referer: http://h:8080/s/?d=0&do=do\r\n"));
}

TEST(ServiceAddressParse, AcceptsHostAndPortForms) {
    EXPECT_EQ(ServiceAddress::parse(u"example.test")->authority(), "example.test");
    EXPECT_EQ(ServiceAddress::parse(u"127.0.0.1:8080")->port, 8080);
    EXPECT_EQ(ServiceAddress::parse(u"[::1]:81")->authority(), "[::1]:81");
    for (const char16_t* bad : {u"", u":80", u"h:0", u"h:70000", u"h:x", u"a b", u"::1"})
        EXPECT_FALSE(ServiceAddress::parse(bad).has_value()) << QString::fromUtf16(bad).toStdString();
}

} // namespace
