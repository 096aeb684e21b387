// The watchlist's texts, the user's command for each event, and the log without a bus.
#include "watch/notifier.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace yuming::service;
using namespace std::chrono_literals;

namespace {

const QTimeZone kShanghai("Asia/Shanghai");

QDateTime at(const char* text) {
    QDateTime when = QDateTime::fromString(QString::fromLatin1(text), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    when.setTimeZone(kShanghai);
    return when;
}

WatchEvent changed(WatchStatus from, WatchStatus to, QDateTime deletion = {}) {
    WatchEvent event;
    event.name = "abc.com";
    event.from = from;
    event.to = to;
    event.deletion = std::move(deletion);
    return event;
}

// Log lines as the notifier writes them, waited for from the test's thread.
struct Log {
    std::mutex mutex;
    std::condition_variable grown;
    std::vector<std::string> lines;

    std::function<void(const std::string&)> sink() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex);
            lines.push_back(line);
            grown.notify_all();
        };
    }
    std::vector<std::string> waitFor(std::size_t count, std::chrono::milliseconds limit = 5000ms) {
        std::unique_lock lock(mutex);
        grown.wait_for(lock, limit, [&] { return lines.size() >= count; });
        return lines;
    }
};

} // namespace

TEST(EventText, StatusChangesShowTheDropInTheServicesZone) {
    const QDateTime now = at("2026-12-10 00:00:00");
    // 2026-12-14 19:00 UTC is 03:00 the next day in Shanghai.
    const QDateTime drop = QDateTime(QDate(2026, 12, 14), QTime(19, 0), Qt::UTC);
    EXPECT_EQ(eventText(changed(WatchStatus::Redemption, WatchStatus::PendingDelete, drop), now),
              "abc.com 进入待删除期，预计 2026-12-15 03:00 删除（还有 5 天 3 小时）");
    EXPECT_EQ(eventText(changed(WatchStatus::AutoRenewGrace, WatchStatus::Redemption, drop), now),
              "abc.com 进入赎回期，预计 2026-12-15 03:00 删除（还有 5 天 3 小时）");
    EXPECT_EQ(eventText(changed(WatchStatus::Active, WatchStatus::AutoRenewGrace), now),
              "abc.com 已过期，进入自动续费宽限期");
    WatchEvent renewed = changed(WatchStatus::Redemption, WatchStatus::Active);
    renewed.expiry = QDateTime(QDate(2027, 10, 1), QTime(12, 0), Qt::UTC);
    EXPECT_EQ(eventText(renewed, now), "abc.com 已续费，恢复正常（到期 2027-10-01）");
    EXPECT_EQ(eventText(changed(WatchStatus::PendingDelete, WatchStatus::NotRegistered), now),
              "abc.com 已被删除，现在可以注册");
    WatchEvent foreign = changed(WatchStatus::PendingDelete, WatchStatus::NotRegistered);
    foreign.name = "xn--fsqu00a.com";
    EXPECT_EQ(eventText(foreign, now), "例子.com 已被删除，现在可以注册");
    EXPECT_EQ(eventSummary(foreign), "域名关注：例子.com");
}

TEST(EventText, MovesRemindersAndTheCountdownsUnits) {
    WatchEvent moved =
        changed(WatchStatus::PendingDelete, WatchStatus::PendingDelete, at("2026-12-16 03:00:00"));
    moved.kind = WatchEvent::Kind::DeletionMoved;
    moved.previousDeletion = at("2026-12-15 03:00:00");
    EXPECT_EQ(eventText(moved, at("2026-12-15 01:00:00")),
              "abc.com 的预计删除时间从 2026-12-15 03:00 改为 2026-12-16 03:00（还有 1 天 2 小时）");

    WatchEvent reminder =
        changed(WatchStatus::PendingDelete, WatchStatus::PendingDelete, at("2026-12-15 03:00:00"));
    reminder.kind = WatchEvent::Kind::Reminder;
    reminder.lead = 1h;
    // Told a few seconds after its time, it still says the hour.
    EXPECT_EQ(eventText(reminder, at("2026-12-15 02:00:04")),
              "abc.com 预计 1 小时后删除（2026-12-15 03:00）");
    EXPECT_EQ(eventText(reminder, at("2026-12-15 00:55:00")),
              "abc.com 预计 2 小时 5 分钟后删除（2026-12-15 03:00）");
    EXPECT_EQ(eventText(reminder, at("2026-12-15 02:20:00")),
              "abc.com 预计 40 分钟后删除（2026-12-15 03:00）");
    EXPECT_EQ(eventText(reminder, at("2026-12-15 03:10:00")), "abc.com 已到预计删除时间（2026-12-15 03:00）");
    EXPECT_EQ(timeLeftText(48h + 59min), "2 天");
    EXPECT_EQ(timeLeftText(24h), "1 天");
    EXPECT_EQ(timeLeftText(10s), "1 分钟");
}

TEST(Notifier, CommandGetsTheEventAndItsFailureIsLogged) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Log log;
    NotifierOptions options;
    options.useSessionBus = false;
    options.zone = kShanghai;
    options.log = log.sink();
    options.command = "env | grep ^YUMING_ | sort > '" + dir.filePath("env").toStdString() + "'; exit 3";
    {
        Notifier notifier(options);
        WatchEvent event = changed(WatchStatus::Redemption, WatchStatus::PendingDelete,
                                   QDateTime(QDate(2099, 12, 14), QTime(19, 0), Qt::UTC));
        notifier.notify(event);
        const auto lines = log.waitFor(2);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_TRUE(lines[0].starts_with("watch: abc.com 进入待删除期，预计 2099-12-15 03:00 删除"))
            << lines[0];
        EXPECT_EQ(lines[1], "notify-command for abc.com exited with 3");
    }
    QFile env(dir.filePath("env"));
    ASSERT_TRUE(env.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(env.readAll());
    for (const char* line :
         {"YUMING_DELETION=2099-12-14T19:00:00Z\n", "YUMING_EVENT=status\n", "YUMING_FROM=redemption\n",
          "YUMING_NAME=abc.com\n", "YUMING_STATUS=pending-delete\n", "YUMING_TO=pending-delete\n",
          "YUMING_TEXT=abc.com 进入待删除期，预计 2099-12-15 03:00 删除"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(line))) << line << " in\n" << text.toStdString();
}

TEST(Notifier, HangingCommandIsKilledAndHoldsUpNeitherCallerNorLaterEvents) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Log log;
    NotifierOptions options;
    options.useSessionBus = false;
    options.commandLimit = 1s;
    options.log = log.sink();
    options.command = "[ \"$YUMING_NAME\" = hang.com ] && sleep 30; touch '" + dir.path().toStdString() +
                      "'/\"$YUMING_NAME\"";
    Notifier notifier(options);
    WatchEvent hang = changed(WatchStatus::Active, WatchStatus::AutoRenewGrace);
    hang.name = "hang.com";
    WatchEvent after = changed(WatchStatus::Active, WatchStatus::AutoRenewGrace);
    const auto start = std::chrono::steady_clock::now();
    notifier.notify(hang);
    notifier.notify(after);
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              800ms); // less than the 1 s the command is let run: neither call waited for it
    const auto lines = log.waitFor(3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "notify-command for hang.com ran longer than 1 s; killed");
    const auto killedAfter = std::chrono::steady_clock::now() - start;
    EXPECT_GE(killedAfter, 900ms);
    EXPECT_LT(killedAfter, 5s);
    for (int i = 0; i < 100 && !QFile::exists(dir.filePath("abc.com")); ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(QFile::exists(dir.filePath("abc.com")));
    EXPECT_FALSE(QFile::exists(dir.filePath("hang.com")));
}

TEST(Notifier, WithoutASessionBusTheEventGoesToTheLog) {
    // Set before anything in this process asks for the session bus, which Qt then keeps.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    Log log;
    NotifierOptions options;
    options.log = log.sink();
    Notifier notifier(options);
    notifier.notify(changed(WatchStatus::PendingDelete, WatchStatus::NotRegistered));
    const auto lines = log.waitFor(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "watch: abc.com 已被删除，现在可以注册 (no desktop notification: no session bus)");
}
