#include "lookup/app_path.h"
#include "lookup/lookup.h"
#include "lookup/lookup_log.h"
#include "search/request.h"
#include "text/gbk.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <thread>

#include <sys/stat.h>

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
        {u"", u"请输入要查询的域名,开头不要加www！"},
        {u"www.abc.com", u"域名开头不要加www！"},
        {u"WwW.abc.com", u"域名开头不要加www！"},
        {u"www.", u"域名开头不要加www！"},
        {u"www", std::nullopt},
        {u"wwwabc.com", std::nullopt},
        {u"   ", std::nullopt},
        {u"abc.com", std::nullopt},
        {u"ww", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(checkDomainInput(c.text), c.refusal) << QString::fromUtf16(c.text).toStdString();
}

TEST(LookupRequest, CarriesAllParametersButTheRefererOnlyTwo) {
    const QByteArray bytes = lookupRequest(u"   ", ServiceAddress{"example.test", 80});
    EXPECT_TRUE(bytes.startsWith(
        "GET /whois/?domain=%20%20%20&Whois%5B%5D=1&Whois%5B%5D=2&Whois%5B%5D=3 HTTP/1.1\r\n"
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
        {kExpiry + "2026-01-01</span>" + kDeletion + "2026-03-17</span>" + kNotRegistered,
         done + "域名未注册"},
        {"a" + kExpiry + "2026-01-01 00:00</span>b" + kDeletion + "2026-03-17 02:30</span>",
         done + "域名到期时间：2026-01-01 00:00    域名删除时间：预算 2026-03-17 02:30"},
        // Expiry without deletion is an error, not a partial result.
        {kExpiry + "2026-01-01</span>", ""},
        {kDeletion + "2026-03-17</span>", ""},
        // A marker with nothing after it fails; an empty span does not.
        {kDeletion + "x</span>" + kExpiry, ""},
        {kExpiry + "</span>" + kDeletion + "</span>", done + "域名到期时间：    域名删除时间：预算 "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lookupResultText(parseLookupPage(c.text)), c.shown) << c.text.toStdString();
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

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

qint64 sizeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_size : -1;
}

// The page log_writer appends (tests/support/log_writer.cpp), 12 MiB with its CR LF.
const QByteArray& bigPage() {
    static const QByteArray page = "<html>" + QByteArray((12 << 20) - 15, 'p') + "</html>\r\n";
    return page;
}

// log_writer started on `log`, past "ready": about to append.
struct Writer {
    Writer(const QString& log, qsizetype size, QStringList more = {})
        : log(log), before(std::max(0LL, sizeOf(log))) {
        QSignalSpy ready(&process, &QProcess::readyReadStandardOutput);
        process.start(QStringLiteral(YUMING_LOG_WRITER), QStringList{log, QString::number(size), "p"} + more);
        EXPECT_TRUE(ready.wait(10000));
    }
    // The page has started to go into the log (it stays there once it has).
    void awaitGrowth() const {
        QElapsedTimer t;
        for (t.start(); sizeOf(log) <= before && t.elapsed() < 10000;) {
        }
    }
    QProcess& signal(int number) {
        ::kill(static_cast<pid_t>(process.processId()), number);
        EXPECT_TRUE(process.waitForFinished(10000));
        return process;
    }
    QString log;
    qint64 before;
    QProcess process;
};

const QString kSmall = QStringLiteral("<html>下一页</html>");

TEST(LookupLog, AWriteCutShortLeavesTheLogAsItWasAndTheNextPageFollowsIt) {
    QTemporaryDir dir;
    const QString path = dir.filePath("xxx.txt");
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(appendLookupLog(path, QString(1000, u'页')));
    const QByteArray before = readAll(path);
    // As on a nearly full disk: room for 100 more bytes of the 5000.
    Writer writer(path, 5000, {"--fsize-limit", QString::number(before.size() + 100)});
    QProcess& p = writer.process;
    EXPECT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(p.readAllStandardOutput().contains(QFile::encodeName(path) + ": File too large"));
    EXPECT_TRUE(readAll(path) == before);
    EXPECT_FALSE(QFile::exists(path + ".pending"));
    ASSERT_TRUE(appendLookupLog(path, kSmall));
    EXPECT_TRUE(readAll(path) == before + toGbk(kSmall) + "\r\n");
}

// Killed at random points of a large page, the log keeps its pages whole: the next append cuts
// off what the killed one left. Bytes someone else added after it are never cut.
TEST(LookupLog, WhatAKilledAppendLeftIsCutOffByTheNext) {
    QTemporaryDir dir;
    const QString path = dir.filePath("xxx.txt");
    const QByteArray& big = bigPage();
    const QByteArray next = toGbk(kSmall) + "\r\n";
    std::mt19937 random(1);
    int cut = 0;
    bool byHandDone = false;
    // Half the kills wait for the page to reach the log; on a busy machine a few more rounds
    // may be needed for them to land mid-write.
    for (int i = 0; i < 20 || (i < 60 && (cut < 2 || !byHandDone)); ++i) {
        QFile::remove(path);
        ASSERT_TRUE(appendLookupLog(path, QStringLiteral("<html>第一页</html>")));
        const QByteArray base = readAll(path);
        Writer writer(path, big.size());
        if (i % 2 == 0)
            writer.awaitGrowth();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 400));
        writer.signal(SIGKILL);
        QByteArray left = readAll(path);
        ASSERT_TRUE(left.startsWith(base));
        const QByteArray tail = left.mid(base.size());
        ASSERT_TRUE(big.startsWith(tail)) << i;
        const bool torn = !tail.isEmpty() && tail.size() < big.size();
        // The first torn page gets a line appended by hand, which must never be cut.
        const bool byHand = torn && !byHandDone;
        if (byHand) {
            byHandDone = true;
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::Append));
            f.write("note\r\n");
            left += "note\r\n";
        }
        const LogAppend appended = appendLookupLog(path, kSmall);
        ASSERT_TRUE(appended) << appended.error.toStdString();
        const QByteArray after = readAll(path);
        if (torn && !byHand) {
            ++cut;
            EXPECT_TRUE(after == base + next) << i << ": " << after.size() << " bytes";
            const QString repaired = QStringLiteral("cut off %1 bytes from offset %2, left by an append that "
                                                    "never finished");
            EXPECT_EQ(appended.repaired, repaired.arg(tail.size()).arg(base.size()));
        } else {
            EXPECT_TRUE(after == left + next) << i << ": " << after.size() << " bytes";
            EXPECT_EQ(appended.repaired, "");
        }
    }
    EXPECT_TRUE(byHandDone);
    EXPECT_GT(cut, 0);
}

TEST(LookupLog, TerminationSignalsTakeEffectOnceThePageIsWhole) {
    QTemporaryDir dir;
    const QString path = dir.filePath("xxx.txt");
    const QByteArray& big = bigPage();
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        QFile::remove(path);
        Writer writer(path, big.size(), {"--stay"});
        writer.awaitGrowth();
        const QProcess& p = writer.signal(signal);
        EXPECT_EQ(p.exitStatus(), QProcess::CrashExit) << signal;
        EXPECT_EQ(p.exitCode(), signal);
        EXPECT_TRUE(readAll(path) == big) << signal << ": " << sizeOf(path) << " bytes";
        EXPECT_FALSE(QFile::exists(path + ".pending"));
    }
}

TEST(AppPath, EndsInExactlyOneSeparator) {
    EXPECT_EQ(withTrailingSeparator("/opt/tools"), "/opt/tools/");
    EXPECT_EQ(withTrailingSeparator("/"), "/");
    EXPECT_TRUE(GetAppPath().endsWith('/'));
    EXPECT_FALSE(GetAppPath().endsWith("//"));
}

} // namespace
