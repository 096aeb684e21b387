#include "lookup/app_path.h"
#include "lookup/lookup.h"
#include "lookup/lookup_log.h"
#include "search/request.h"
#include "text/gbk.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace yuming;

namespace {

const QString kExpiry = QStringLiteral("域名到期时间：<span style=color:#FF6600>");
const QString kDeletion = QStringLiteral("<span style=color:#FF6600>预算");
const QString kNotRegistered = QStringLiteral("</title> 未注册<span id=span_dt_dt>");

TEST(LookupInput, RefusesEmptyAndWwwInAnyCase) {
    struct Case {
        const char16_t* text;
        std::optional<QStringView> refusal;
    };
    const Case cases[] = {
        {u"", lookup_text::kEnterDomain}, {u"www.abc.com", lookup_text::kNoWww}, {u"WwW.abc.com", lookup_text::kNoWww},
        {u"www.", lookup_text::kNoWww},    {u"www", std::nullopt},               {u"wwwabc.com", std::nullopt},
        {u"   ", std::nullopt},            {u"abc.com", std::nullopt},           {u"ww", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(checkDomainInput(c.text), c.refusal) << QString::fromUtf16(c.text).toStdString();
}

TEST(LookupRequest, CarriesAllParametersButTheRefererOnlyTwo) {
    const QByteArray bytes = lookupRequest(u"   ", ServiceAddress{"example.test", 80});
    EXPECT_TRUE(bytes.startsWith("GET /whois/?domain=%20%20%20&Whois%5B%5D=1&Whois%5B%5D=2&Whois%5B%5D=3 HTTP/1.1\r\n"
                                 "Accept: */*\r\n"
                                 "Referer: http://example.test/whois/?domain=%20%20%20&Whois%5B%5D=2&Whois%5B%5D=3\r\n"
                                 "Accept-Language: zh-cn\r\n"));
    EXPECT_TRUE(bytes.endsWith("Host: example.test\r\nConnection: Keep-Alive\r\n\r\n"));
    EXPECT_TRUE(lookupRequest(QString::fromUtf8("中国.cn"), ServiceAddress{"h", 80})
                    .startsWith("GET /whois/?domain=\xD6\xD0\xB9\xFA.cn&Whois"));
}

TEST(LookupPage, OutcomesOfThePage) {
    struct Case {
        QString text;
        QString shown; // empty: the lookup fails
    };
    const QString done = "查询完成...\r\n\r\n";
    const Case cases[] = {
        {"<title>x" + kNotRegistered + "</span>", done + "域名未注册"},
        // Not registered wins over dates on the same page.
        {kExpiry + "2026-01-01</span>" + kDeletion + "2026-03-17</span>" + kNotRegistered, done + "域名未注册"},
        {"a" + kExpiry + "2026-01-01 00:00</span>b" + kDeletion + "2026-03-17 02:30</span>",
         done + "域名到期时间：2026-01-01 00:00    域名删除时间：预算 2026-03-17 02:30"},
        // Expiry without deletion is an error, not a partial result.
        {kExpiry + "2026-01-01</span>", ""},
        {kDeletion + "2026-03-17</span>", ""},
        // A marker with nothing after it fails; an empty span does not.
        {kDeletion + "x</span>" + kExpiry, ""},
        {kExpiry + "</span>" + kDeletion + "</span>", done + "域名到期时间：    域名删除时间：预算 "},
    };
    for (const Case& c : cases) EXPECT_EQ(lookupResultText(parseLookupPage(c.text)), c.shown) << c.text.toStdString();
}

TEST(LookupPage, SpanWithoutEndRunsToTheNextMarkerOrTheEnd) {
    // The deletion marker's own tail starts with the expiry marker's span, so cut carefully.
    EXPECT_EQ(cutAfter(u"A:x1 B A:x2", u"A:")->toString(), "x1 B ");
    EXPECT_EQ(cutAfter(u"A:x1 B", u"A:")->toString(), "x1 B");
    EXPECT_EQ(cutAfter(u"A:x1</span>y", u"A:")->toString(), "x1");
    EXPECT_FALSE(cutAfter(u"A:A:x", u"A:").has_value());
    EXPECT_FALSE(cutAfter(u"nothing", u"A:").has_value());
}

TEST(LookupLog, AppendsEveryPageInGbkAndNeverTruncates) {
    QTemporaryDir dir;
    const QString path = dir.filePath("xxx.txt");
    const QString first = QStringLiteral("HTTP/1.1 200 OK\r\n\r\n<html>第一页</html>");
    const QString second = QStringLiteral("<html>第二页 €</html>");
    ASSERT_TRUE(appendLookupLog(path, first));
    ASSERT_TRUE(appendLookupLog(path, second));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), toGbk(first) + "\r\n" + toGbk(second) + "\r\n");
}

TEST(LookupLog, AFolderThatCannotBeWrittenFailsWithoutTouchingTheLog) {
    QTemporaryDir dir;
    EXPECT_FALSE(appendLookupLog(dir.filePath("missing/xxx.txt"), u"page"));
    EXPECT_FALSE(appendLookupLog(dir.path(), u"page")); // a folder is no log file
    if (QFile::exists("/dev/full")) {
        EXPECT_FALSE(appendLookupLog("/dev/full", u"page"));
    }
}

TEST(AppPath, EndsInExactlyOneSeparator) {
    EXPECT_EQ(withTrailingSeparator("/opt/tools"), "/opt/tools/");
    EXPECT_EQ(withTrailingSeparator("/"), "/");
    EXPECT_TRUE(GetAppPath().endsWith('/'));
    EXPECT_FALSE(GetAppPath().endsWith("//"));
}

} // namespace
