// Every way a server can go wrong, for the whole search and the whole lookup alike: what the
// window would show, the buttons unlocked afterwards, and the log appended once or not at all.
#include "lookup/lookup_command.h"
#include "search/search_commands.h"
#include "search/service_link.h"
#include "support/qt_print.h"
#include "support/script_server.h"
#include "text/gbk.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace yuming;
using Step = ScriptServer::Step;

namespace {

const QString kDone = "完成...";
const QString kFailed = "获取结果出错,请稍后重试...";
const QString kTimeout = "连接服务器超时,请稍后再试...";
const QString kLookupDone =
    "查询完成...\r\n\r\n域名到期时间：2026-10-01 08:00:00    域名删除时间：预算 2026-12-15 02:30:00";

// A search answer and a lookup answer of the same shape: both hold a Chinese character early
// and end with the end tag.
QByteArray searchBody() {
    return toGbk(QStringLiteral(
        "<html><title>过期</title><strong>,&#x5171;2页</strong><table><tr><th "
        "class=\"booking\">预订</th></tr>\n"
        "<tr><td><a href=x target=_blank>中文.com</a></td><td>2</td><td>com</td><td>2026-12-15 02:30:00</td>"
        "<td>预订</td></tr>\n</tbody></table></html>"));
}
QByteArray lookupBody() {
    return toGbk(QStringLiteral(
        "<html><title>中文.com</title>域名到期时间：<span style=color:#FF6600>2026-10-01 08:00:00</span>"
        "<p><span style=color:#FF6600>预算2026-12-15 02:30:00</span></p></html>"));
}

struct Fault {
    const char* name;
    // The script for a given body; `answer` is the whole 200 answer with that body.
    std::function<QList<Step>(const QByteArray& body, const QByteArray& answer)> script;
    QString search; // the status line after a search
    bool lookupOk;  // whether the lookup shows its dates (and logs the page once)
    enum class Where { Server, Refused, Unaccepted } where = Where::Server;
};

qsizetype firstHighByte(const QByteArray& bytes, qsizetype from) {
    for (qsizetype i = from; i < bytes.size(); ++i)
        if (static_cast<unsigned char>(bytes[i]) >= 0x81) return i;
    return -1;
}

QList<Fault> faults() {
    using W = Fault::Where;
    const auto head = [](const QByteArray& a) { return a.first(a.indexOf("\r\n\r\n") + 4); };
    return {
        {"one shot", [](auto&, auto& a) { return QList<Step>{ScriptServer::send(a)}; }, kDone, true},
        {"a character split between blocks",
         [](auto&, auto& a) { return ScriptServer::splitAt(a, firstHighByte(a, a.indexOf("<html>")) + 1); },
         kDone, true},
        {"the end tag split between blocks",
         [](auto&, auto& a) { return ScriptServer::splitAt(a, a.indexOf("</html>") + 3); }, kDone, true},
        {"dripping in 3-byte blocks", [](auto&, auto& a) { return ScriptServer::split(a, 3, 0); }, kDone,
         true},
        {"the last bytes arrive with the close",
         [](auto&, auto& a) {
             return QList<Step>{ScriptServer::send(a), ScriptServer::close()};
         },
         kDone, true},
        {"chunked, a chunk boundary inside the end tag and inside characters",
         [](auto& b, auto&) {
             return QList<Step>{ScriptServer::send(ScriptServer::httpAnswer(b, 200, true, 5))};
         },
         kDone, true},
        {"chunked, header lines ending in LF alone",
         [](auto& b, auto&) {
             const QByteArray a = ScriptServer::httpAnswer(b, 200, true, 7);
             const qsizetype body = a.indexOf("\r\n\r\n") + 4;
             return QList<Step>{ScriptServer::send(a.first(body).replace("\r\n", "\n") + a.sliced(body))};
         },
         kDone, true},
        {"no headers at all",
         [](auto& b, auto&) {
             return QList<Step>{ScriptServer::send(b), ScriptServer::close()};
         },
         kDone, true},
        {"headers then silence",
         [head](auto&, auto& a) {
             return QList<Step>{ScriptServer::send(head(a)), ScriptServer::stall()};
         },
         kFailed, false},
        {"close after headers",
         [head](auto&, auto& a) {
             return QList<Step>{ScriptServer::send(head(a)), ScriptServer::close()};
         },
         kFailed, false},
        {"close mid-body",
         [](auto&, auto& a) {
             return QList<Step>{ScriptServer::send(a.first(a.size() - 20)), ScriptServer::close()};
         },
         kFailed, false},
        {"close mid-character",
         [](auto&, auto& a) {
             return QList<Step>{ScriptServer::send(a.first(firstHighByte(a, a.indexOf("<html>")) + 1)),
                                ScriptServer::close()};
         },
         kFailed, false},
        {"close with nothing sent", [](auto&, auto&) { return QList<Step>{ScriptServer::close()}; }, kFailed,
         false},
        {"endless data without the end tag",
         [](auto&, auto&) { return ScriptServer::split(QByteArray(512 * 1024, 'x'), 64 * 1024, 1); }, kFailed,
         false},
        {"a trickle that never falls silent",
         [](auto&, auto& a) { return ScriptServer::split(a.first(a.indexOf("</html>")), 1, 150); }, kFailed,
         false},
        {"an answer over the size bound",
         [](auto& b, auto&) {
             return QList<Step>{
                 ScriptServer::send(ScriptServer::httpAnswer(QByteArray(300 * 1024, ' ') + b))};
         },
         kFailed, false},
        {"the end tag early, in a comment, before the rest arrives",
         [](auto& b, auto&) {
             const QByteArray early = ScriptServer::httpAnswer("<!-- </html> -->" + b);
             return ScriptServer::splitAt(early, early.indexOf("-->") + 3, 20);
         },
         kFailed, false},
        {"302 with an HTML body",
         [](auto&, auto&) {
             return QList<Step>{ScriptServer::send(ScriptServer::httpAnswer("<html>moved</html>", 302))};
         },
         kFailed, false},
        {"404 with an HTML body",
         [](auto&, auto&) {
             return QList<Step>{ScriptServer::send(ScriptServer::httpAnswer("<html>not here</html>", 404))};
         },
         kFailed, false},
        {"500 with an HTML body",
         [](auto&, auto&) {
             return QList<Step>{ScriptServer::send(ScriptServer::httpAnswer("<html>oops</html>", 500))};
         },
         kFailed, false},
        {"refused connection", [](auto&, auto&) { return QList<Step>{}; }, kTimeout, false, W::Refused},
        {"a connection that is never accepted", [](auto&, auto&) { return QList<Step>{}; }, kTimeout, false,
         W::Unaccepted},
    };
}

class FaultSuite : public ::testing::TestWithParam<Fault> {
protected:
    void SetUp() override {
        link.fetch().setLimits({.TickMs = 10,
                                .ConnectTicks = 15,
                                .SilenceMs = 300,
                                .AnswerMs = 1500,
                                .MaxAnswerBytes = 256 * 1024});
        for (auto* locked : {&searchLocks, &lookupLocks})
            locked->clear();
        QObject::connect(&search, &SearchCommands::buttonsLocked, [this](bool l) { searchLocks << l; });
        QObject::connect(&lookup, &LookupCommand::buttonsLocked, [this](bool l) { lookupLocks << l; });
        QObject::connect(&search, &SearchCommands::statusChanged, [this](const QString& s) { status = s; });
        QObject::connect(&lookup, &LookupCommand::resultTextChanged,
                         [this](const QString& s) { result = s; });
    }

    ServiceAddress where(const Fault& f) {
        if (f.where == Fault::Where::Refused) return {"127.0.0.1", ScriptServer::closedPort()};
        if (f.where == Fault::Where::Unaccepted) return {"127.0.0.1", unaccepted.port()};
        return {"127.0.0.1", server.port()};
    }
    QByteArray log() const {
        QFile f(logPath);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    ScriptServer server;
    ScriptServer::Unaccepted unaccepted;
    QTemporaryDir dir;
    QString logPath = dir.filePath("xxx.txt");
    ServiceLink link;
    SearchCommands search{link, {}};
    LookupCommand lookup{link, {}, logPath};
    QList<bool> searchLocks, lookupLocks;
    QString status, result;
};

TEST_P(FaultSuite, SearchAndLookupEndCleanly) {
    const Fault& f = GetParam();
    search.setService(where(f));
    lookup.setService(where(f));

    server.setScript(f.script(searchBody(), ScriptServer::httpAnswer(searchBody())));
    QSignalSpy searched(&search, &SearchCommands::finished);
    ASSERT_EQ(search.newSearch({}), CommandResult::started());
    ASSERT_TRUE(searched.wait(5000));
    EXPECT_EQ(status, f.search);
    EXPECT_EQ(searchLocks, (QList<bool>{true, false}));

    const QByteArray before = "an earlier page\r\n";
    {
        QFile seed(logPath);
        ASSERT_TRUE(seed.open(QIODevice::WriteOnly));
        seed.write(before);
    }
    const QByteArray answer = ScriptServer::httpAnswer(lookupBody());
    server.setScript(f.script(lookupBody(), answer));
    QSignalSpy looked(&lookup, &LookupCommand::finished);
    ASSERT_EQ(lookup.lookup("中文.com"), CommandResult::started());
    ASSERT_TRUE(looked.wait(5000));
    EXPECT_EQ(lookupLocks, (QList<bool>{true, false}));
    if (f.lookupOk) {
        EXPECT_EQ(result, kLookupDone);
        // The page as it was meant, whatever the framing: status line, headers and body.
        EXPECT_TRUE(log().startsWith(before));
        EXPECT_EQ(log().count("</html>"), 1);
    } else {
        EXPECT_EQ(result, f.search == kTimeout ? kTimeout : kFailed);
        // A page that did arrive whole is logged once even though it says nothing useful;
        // a broken answer leaves the log as it was.
        const bool pageArrived =
            QByteArray(f.name).contains("comment") || QByteArray(f.name).contains("with an HTML");
        if (pageArrived) {
            EXPECT_TRUE(log().startsWith(before));
            EXPECT_EQ(log().count("</html>"), 1);
        } else {
            EXPECT_EQ(log(), before);
        }
    }
    EXPECT_FALSE(link.inFlight());
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultSuite, ::testing::ValuesIn(faults()), [](const auto& info) {
    std::string name;
    for (char c : std::string(info.param.name))
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
});

// Cutting the answer at every byte gives exactly the one-shot result, for both pages.
TEST(FaultSplit, EveryOffsetGivesTheOneShotResult) {
    ScriptServer server;
    QTemporaryDir dir;
    ServiceLink link;
    SearchCommands search(link, {"127.0.0.1", server.port()});
    LookupCommand lookup(link, {"127.0.0.1", server.port()}, dir.filePath("xxx.txt"));
    QString status, result;
    QObject::connect(&search, &SearchCommands::statusChanged, [&](const QString& s) { status = s; });
    QObject::connect(&lookup, &LookupCommand::resultTextChanged, [&](const QString& s) { result = s; });
    const QByteArray s = ScriptServer::httpAnswer(searchBody());
    const QByteArray l = ScriptServer::httpAnswer(lookupBody());
    for (qsizetype cut = 1; cut < qMax(s.size(), l.size()); ++cut) {
        if (cut < s.size()) {
            server.setScript(ScriptServer::splitAt(s, cut, 1));
            QSignalSpy done(&search, &SearchCommands::finished);
            search.newSearch({});
            ASSERT_TRUE(done.wait(5000));
            ASSERT_EQ(status, kDone) << "search cut at " << cut;
        }
        if (cut < l.size()) {
            server.setScript(ScriptServer::splitAt(l, cut, 1));
            QSignalSpy done(&lookup, &LookupCommand::finished);
            lookup.lookup("中文.com");
            ASSERT_TRUE(done.wait(5000));
            ASSERT_EQ(result, kLookupDone) << "lookup cut at " << cut;
        }
    }
}

} // namespace
