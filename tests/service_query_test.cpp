// The pure parts of the service: reading the search query (shared with its fuzz target), the
// pages' writers against the tool's readers, and the options.
#include "app/service_options.h"
#include "protocol/lookup_page.h"
#include "protocol/search_page.h"
#include "protocol/lookup_request.h"
#include "protocol/search_query.h"
#include "text/gbk.h"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>

using namespace yuming;
using namespace yuming::service;

namespace {

struct QueryCase {
    const char* name;
    std::string_view query;
    SearchFilters expected;
};

void PrintTo(const QueryCase& c, std::ostream* out) {
    *out << c.name;
}

SearchFilters with(auto change) {
    SearchFilters filters;
    change(filters);
    return filters;
}

const QueryCase kGood[] = {
    {"tool_default", "key=abc&kaiwei=radom&min=0&max=0&op=zahe&o=o_5&com=com&net=net&tsym=0&d=0&do=do&page=0",
     with([](SearchFilters& f) {
         f.keyword = "abc";
         f.suffixes = Com | Net;
     })},
    {"every_choice", "key=x&kaiwei=startsend&min=2&max=9&op=num&o=o_3&org=org&page=12",
     with([](SearchFilters& f) {
         f.keyword = "x";
         f.position = KeyPosition::StartsOrEnds;
         f.minLength = 2;
         f.maxLength = 9;
         f.kind = CharKind::Digits;
         f.sort = SortKey::Suffix;
         f.suffixes = Org;
         f.page = 12;
     })},
    {"percent_and_plus", "key=%41b%2dc+d&page=0", with([](SearchFilters& f) { f.keyword = "ab-c d"; })},
    {"raw_gbk_bytes", "key=\xd6\xd0\xce\xc4", with([](SearchFilters& f) { f.keyword = "\xd6\xd0\xce\xc4"; })},
    {"broken_percent_stays", "key=%zz%4", with([](SearchFilters& f) { f.keyword = "%zz%4"; })},
    {"bounds_not_numbers", "min=ab&max=-5", SearchFilters{}},
    {"bound_too_big", "max=99999999999999999999",
     with([](SearchFilters& f) { f.maxLength = std::numeric_limits<int>::max(); })},
    {"page_leading_zeros", "page=007", with([](SearchFilters& f) { f.page = 7; })},
    {"page_at_the_cap", "page=1000000000", with([](SearchFilters& f) { f.page = 1'000'000'000; })},
    {"page_past_the_cap", "page=1000000001", with([](SearchFilters& f) { f.page = 1'000'000'000; })},
    {"page_largest_int64", "page=9223372036854775807",
     with([](SearchFilters& f) { f.page = 1'000'000'000; })},
    {"page_too_big", "page=99999999999999999999999", with([](SearchFilters& f) { f.page = 1'000'000'000; })},
    {"flag_with_other_value", "com=yes&net=net", with([](SearchFilters& f) { f.suffixes = Net; })},
    {"empty_and_odd_pairs", "&&=&x&key=a&", with([](SearchFilters& f) { f.keyword = "a"; })},
    {"nothing", "", SearchFilters{}},
};

const std::pair<const char*, std::string_view> kBad[] = {
    {"negative_page", "page=-1"},
    {"empty_page", "page="},
    {"page_with_sign", "page=+3"},
    {"page_in_hex", "page=0x10"},
    {"position_in_capitals", "kaiwei=RADOM"},
    {"unknown_kind", "op=mixed"},
    {"unknown_sort", "o=o_6"},
};

class QueryGood : public ::testing::TestWithParam<QueryCase> {};

} // namespace

TEST_P(QueryGood, DecodesToTheFilters) {
    const auto result = decodeSearchQuery(GetParam().query);
    ASSERT_TRUE(result.ok()) << result.error;
    const SearchFilters& got = result.filters;
    const SearchFilters& want = GetParam().expected;
    EXPECT_EQ(got.keyword, want.keyword);
    EXPECT_EQ(got.position, want.position);
    EXPECT_EQ(got.minLength, want.minLength);
    EXPECT_EQ(got.maxLength, want.maxLength);
    EXPECT_EQ(got.kind, want.kind);
    EXPECT_EQ(got.sort, want.sort);
    EXPECT_EQ(got.suffixes, want.suffixes);
    EXPECT_EQ(got.page, want.page);
}

INSTANTIATE_TEST_SUITE_P(Each, QueryGood, ::testing::ValuesIn(kGood),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(QueryBad, RefusedWithTheParameterNamed) {
    for (const auto& [name, query] : kBad) {
        SCOPED_TRACE(name);
        const auto result = decodeSearchQuery(query);
        EXPECT_FALSE(result.ok());
        EXPECT_NE(result.error.find(std::string(query.substr(0, query.find('=')))), std::string::npos)
            << result.error;
    }
}

TEST(QueryLookup, DomainIsDecodedAndFolded) {
    EXPECT_EQ(decodeLookupDomain("domain=ABC.Com&Whois%5B%5D=1"), "abc.com");
    EXPECT_EQ(decodeLookupDomain("Whois%5B%5D=1&domain=a%2Eb"), "a.b");
    EXPECT_EQ(decodeLookupDomain("Whois%5B%5D=1"), "");
}

namespace {

std::string gbk(QStringView text) {
    return toGbk(text).toStdString();
}

QString decoded(const std::string& page) {
    return fromGbk(QByteArrayView(page.data(), static_cast<qsizetype>(page.size())));
}

} // namespace

TEST(PageWriters, SearchPageReadsBackAsWritten) {
    std::string page = "<html><body>";
    writePageCount(page, 12);
    page += " <table><thead><tr><th>x</th>";
    writeRowsStart(page);
    writeRow(page, "a-b.com", 3, "com", "2026-01-02 03:04:05");
    writeRow(page, gbk(u"域名.cn"), 4, "cn", "2026-12-31 23:59:59");
    writeRowsEnd(page);
    writePageEnd(page);

    const ResultPage result = parseResultPage(decoded(page));
    ASSERT_TRUE(result.ok()) << int(result.outcome);
    EXPECT_EQ(result.pageCount, QStringLiteral("12"));
    ASSERT_EQ(result.rows.size(), 2);
    EXPECT_EQ(result.rows[0], ResultRow(u"a-b.com", u"3", u"com", u"2026-01-02 03:04:05"));
    EXPECT_EQ(result.rows[1], ResultRow(u"域名.cn", u"4", u"cn", u"2026-12-31 23:59:59"));
    EXPECT_TRUE(page.ends_with("</table></html>"));
    // The rows' links ask for the lookup with its three answers, ampersands escaped.
    EXPECT_NE(page.find("/whois/?domain=a-b.com&amp;Whois%5B%5D=1&amp;Whois%5B%5D=2&amp;Whois%5B%5D=3"),
              std::string::npos);

    std::string empty;
    writePageCount(empty, 0);
    writeRowsStart(empty);
    writeRowsEnd(empty);
    const ResultPage none = parseResultPage(decoded(empty));
    EXPECT_TRUE(none.ok());
    EXPECT_EQ(none.pageCount, QStringLiteral("0"));
    EXPECT_TRUE(none.rows.isEmpty());
}

TEST(PageWriters, LookupPageReadsBackAsWritten) {
    std::string unknown = "<html><head><title>x.com";
    writeNotRegistered(unknown, "x.com");
    EXPECT_EQ(parseLookupPage(decoded(unknown)).outcome, LookupPage::Outcome::NotRegistered);

    std::string dates = "<html><body><p>";
    writeExpiry(dates, "2025-03-04 05:06:07");
    dates += "</p><p>";
    writeDeletion(dates, gbk(u"2025-05-08 05:06:07（待删除）"));
    dates += "</p></html>";
    const LookupPage known = parseLookupPage(decoded(dates));
    ASSERT_EQ(known.outcome, LookupPage::Outcome::Dates);
    EXPECT_EQ(known.expiry, QStringLiteral("2025-03-04 05:06:07"));
    EXPECT_EQ(known.deletion, QStringLiteral(u"预算 2025-05-08 05:06:07（待删除）"));
}

namespace {

struct OptionsCase {
    const char* name;
    std::vector<std::string> args;
    const char* error; // empty: accepted
    std::string host = "127.0.0.1";
    int port = 0;
    ServiceOptions::Command command = ServiceOptions::Command::Serve;
};

const OptionsCase kOptions[] = {
    {"ipv6_in_brackets", {"--listen", "[::1]:8080"}, "", "::1", 8080},
    {"ipv6_bare", {"--listen", "::1:0"}, "", "::1", 0},
    {"brackets_without_port", {"--listen", "[::1]"}, "bad option: --listen"},
    {"brackets_around_ipv4", {"--listen", "[127.0.0.1]:0"}, "bad option: --listen"},
    {"empty_db", {"--db", ""}, "bad option: --db: the file name is empty"},
    {"check", {"check", "--db", "x.sqlite"}, "", "127.0.0.1", 0, ServiceOptions::Command::Check},
    {"check_with_serving_option", {"check", "--listen", "127.0.0.1:1"}, "check takes only --db or --user"},
    // Only "--NAME VALUE" and "-h": the other forms a parser may know are refused as written.
    {"value_after_equals", {"--db=x.sqlite"}, "unknown option: --db=x.sqlite"},
    {"single_dash_word", {"-db", "x.sqlite"}, "unknown option: -db"},
    {"help_with_two_dashes_one_letter", {"--h"}, "unknown option: --h"},
    {"first_wrong_argument_named", {"--rows", "x", "--colour"}, "bad option: --rows x"},
    {"unknown_before_bad_value", {"serve", "--rows", "x"}, "unknown option: serve"},
    {"import_without_files", {"import", "--replace"}, "import needs at least one file"},
};

} // namespace

TEST(ServiceOptionsParse, AcceptsOrRefusesWithTheReason) {
    for (const OptionsCase& c : kOptions) {
        SCOPED_TRACE(c.name);
        const OptionsResult result = parseOptions(c.args);
        if (*c.error) {
            EXPECT_TRUE(result.error.starts_with(c.error)) << result.error;
            continue;
        }
        ASSERT_TRUE(result.ok()) << result.error;
        EXPECT_EQ(result.options.host, c.host);
        EXPECT_EQ(result.options.port, c.port);
        EXPECT_EQ(result.options.command, c.command);
    }
}

TEST(ServiceOptionsParse, SettingsFileUnderTheCommandLine) {
    const std::string file =
        "# online lookups\nrdap = on\n\nrdap-rate 2.5\ntime-zone=Asia/Shanghai\nlisten = 127.0.0.1:81\n"
        "notify-command = curl -d \"$YUMING_TEXT\" http://h/x?a=b\n";
    const OptionsResult fromFile = parseOptions({}, file, "service.conf");
    ASSERT_TRUE(fromFile.ok()) << fromFile.error;
    EXPECT_EQ(fromFile.options.rdap, ServiceOptions::Rdap::On);
    EXPECT_DOUBLE_EQ(fromFile.options.rdapRate, 2.5);
    EXPECT_EQ(fromFile.options.timeZone, "Asia/Shanghai");
    EXPECT_EQ(fromFile.options.port, 81);
    EXPECT_EQ(fromFile.options.notifyCommand, "curl -d \"$YUMING_TEXT\" http://h/x?a=b");

    const OptionsResult overridden = parseOptions(
        {"--no-rdap", "--listen", "127.0.0.1:82", "--notify-command", "logger -t w"}, file, "service.conf");
    ASSERT_TRUE(overridden.ok()) << overridden.error;
    EXPECT_EQ(overridden.options.rdap, ServiceOptions::Rdap::Off);
    EXPECT_EQ(overridden.options.port, 82);
    EXPECT_EQ(overridden.options.notifyCommand, "logger -t w");

    // Registries by default; --rdap takes a word, and alone means on.
    using Rdap = ServiceOptions::Rdap;
    for (const auto& [args, text, mode] :
         {std::tuple{std::vector<std::string>{}, "", Rdap::Auto},
          std::tuple{std::vector<std::string>{"--rdap", "auto"}, "rdap = off\n", Rdap::Auto},
          std::tuple{std::vector<std::string>{"--rdap", "--listen", "127.0.0.1:83"}, "rdap = auto\n",
                     Rdap::On},
          std::tuple{std::vector<std::string>{"--rdap", "off"}, "rdap\n", Rdap::Off},
          std::tuple{std::vector<std::string>{}, "rdap = no\n", Rdap::Off}}) {
        const OptionsResult mode_ = parseOptions(args, text, "service.conf");
        ASSERT_TRUE(mode_.ok()) << mode_.error;
        EXPECT_EQ(mode_.options.rdap, mode) << text;
    }
    EXPECT_EQ(parseOptions({}).options.rdapPauseSeconds, 60);
    EXPECT_EQ(parseOptions({"--rdap-pause", "5"}).options.rdapPauseSeconds, 5);
    EXPECT_EQ(parseOptions({"--rdap", "maybe"}).error, "bad option: rdap maybe (auto, on or off)");
    EXPECT_EQ(parseOptions({"--rdap-pause", "-1"}).error, "bad option: --rdap-pause -1");

    // A check reads only where the database is from the file.
    const OptionsResult check = parseOptions({"check"}, file + "db = /tmp/x.sqlite\n", "service.conf");
    ASSERT_TRUE(check.ok()) << check.error;
    EXPECT_EQ(check.options.dbPath, "/tmp/x.sqlite");

    for (const auto& [text, error] :
         {std::pair{"rdap = maybe\n", "service.conf:1: bad option: rdap maybe"},
          std::pair{"\nuser\n", "service.conf:2: not a setting: user"},
          std::pair{"rdap-rate = 0\n", "service.conf:1: bad option: --rdap-rate 0"},
          std::pair{"time-zone = Mars/Olympus\n", "service.conf:1: bad option: --time-zone"},
          std::pair{"colour = blue\n", "service.conf:1: unknown option: --colour"}}) {
        const OptionsResult bad = parseOptions({}, text, "service.conf");
        EXPECT_TRUE(bad.error.starts_with(error)) << bad.error;
    }
}
