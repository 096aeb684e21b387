// The deletion calendar as a real iCalendar parser reads it back.
#include "support/watch_api_server.h"
#include "watch/ical.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <libical/ical.h>

#include <gtest/gtest.h>

#include <memory>

namespace {

const QByteArray kToken = QByteArray("fedcba9876543210").repeated(4);

using Calendar = std::unique_ptr<icalcomponent, decltype(&icalcomponent_free)>;

Calendar parse(const QByteArray& text) {
    return Calendar(icalparser_parse_string(text.constData()), &icalcomponent_free);
}

// Every physical line ends in CRLF, holds at most 75 octets and whole UTF-8 characters.
void expectWellFormedLines(const QByteArray& text) {
    ASSERT_TRUE(text.endsWith("\r\n"));
    const QList<QByteArray> lines = text.chopped(1).split('\n');
    for (const QByteArray& line : lines) {
        ASSERT_TRUE(line.endsWith('\r')) << line.toStdString();
        EXPECT_LE(line.size() - 1, 75) << line.toStdString();
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString decoded = utf8(line);
        EXPECT_FALSE(utf8.hasError()) << line.toStdString();
    }
}

QString text(const char* value) {
    return QString::fromUtf8(value ? value : "(none)");
}

icalproperty* property(icalcomponent* component, icalproperty_kind kind) {
    return icalcomponent_get_first_property(component, kind);
}

struct Expected {
    const char* uid;
    const char* start;
    const char* summary;
    const char* description;
};

TEST(WatchIcs, TheCalendarOfTheWatchlistReadsBackEventByEvent) {
    WatchApiServer server(kToken);
    server.watched["abc.com"] = WatchApiServer::pendingDelete("abc.com");
    server.watched["kept.org"] = WatchApiServer::fresh("kept.org");
    server.watched["xn--fsqu00a.com"] = {
        {"name", "xn--fsqu00a.com"},          {"status", "redemption"}, {"expiry", QJsonValue::Null},
        {"deletion", "2027-01-20T09:30:00Z"}, {"basis", "local"},       {"secondsLeft", 3600000},
        {"checkedAt", QJsonValue::Null}};
    QTemporaryDir dir;
    const QString path = dir.filePath("watch.ics");
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("YUMING_TOKEN", QString::fromLatin1(kToken));
    cli.setProcessEnvironment(env);
    QSignalSpy finished(&cli, &QProcess::finished);
    cli.start(QStringLiteral(YUMING_CLI_BIN),
              {"--service", server.hostPort(), "watch", "ics", "--out", path});
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    EXPECT_EQ(cli.readAllStandardError(), "yuming-cli: 2 events written to " + path.toUtf8() + "\n");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    expectWellFormedLines(bytes);

    const Calendar calendar = parse(bytes);
    ASSERT_TRUE(calendar);
    icalcomponent* cal = calendar.get();
    EXPECT_EQ(icalcomponent_isa(cal), ICAL_VCALENDAR_COMPONENT);
    EXPECT_EQ(icalcomponent_count_errors(cal), 0) << bytes.toStdString();
    EXPECT_EQ(text(icalproperty_get_version(property(cal, ICAL_VERSION_PROPERTY))), "2.0");
    EXPECT_EQ(text(icalproperty_get_calscale(property(cal, ICAL_CALSCALE_PROPERTY))), "GREGORIAN");
    EXPECT_FALSE(text(icalproperty_get_prodid(property(cal, ICAL_PRODID_PROPERTY))).isEmpty());

    const Expected expected[] = {
        {"abc.com@yuming.watch", "2026-12-15T03:00:00Z", "域名删除：abc.com",
         "状态：待删除期\n到期时间：2026-10-01 12:00 UTC\n预计删除：2026-12-15 03:00 "
         "UTC\n依据：注册局状态（待删除期）"},
        {"xn--fsqu00a.com@yuming.watch", "2027-01-20T09:30:00Z", "域名删除：例子.com",
         "状态：赎回期\n到期时间：无\n预计删除：2027-01-20 09:30 UTC\n依据：本服务的删除列表"},
    };
    icalcomponent* event = icalcomponent_get_first_component(cal, ICAL_VEVENT_COMPONENT);
    for (const Expected& e : expected) {
        ASSERT_NE(event, nullptr) << e.uid;
        EXPECT_EQ(text(icalcomponent_get_uid(event)), e.uid);
        const icaltimetype start = icalcomponent_get_dtstart(event);
        EXPECT_TRUE(icaltime_is_utc(start)) << e.uid;
        EXPECT_EQ(icaltime_as_timet(start), QDateTime::fromString(e.start, Qt::ISODate).toSecsSinceEpoch());
        const icaltimetype stamp = icalcomponent_get_dtstamp(event);
        EXPECT_TRUE(icaltime_is_utc(stamp));
        EXPECT_EQ(icaltime_as_timet(stamp),
                  QDateTime::fromString("2026-12-09T19:00:00Z", Qt::ISODate).toSecsSinceEpoch());
        EXPECT_EQ(icaldurationtype_as_int(icalcomponent_get_duration(event)), 30 * 60);
        EXPECT_EQ(text(icalcomponent_get_summary(event)), e.summary);
        EXPECT_EQ(text(icalcomponent_get_description(event)), e.description);

        icalcomponent* alarm = icalcomponent_get_first_component(event, ICAL_VALARM_COMPONENT);
        ASSERT_NE(alarm, nullptr) << e.uid;
        EXPECT_EQ(icalproperty_get_action(property(alarm, ICAL_ACTION_PROPERTY)), ICAL_ACTION_DISPLAY);
        EXPECT_EQ(icaldurationtype_as_int(
                      icalproperty_get_trigger(property(alarm, ICAL_TRIGGER_PROPERTY)).duration),
                  -3600);
        EXPECT_FALSE(
            text(icalproperty_get_description(property(alarm, ICAL_DESCRIPTION_PROPERTY))).isEmpty());
        event = icalcomponent_get_next_component(cal, ICAL_VEVENT_COMPONENT);
    }
    EXPECT_EQ(event, nullptr) << "a name without a deletion estimate has no event";
}

TEST(Ical, TextIsEscapedAndFoldedSoTheParserReadsItBackAsItWas) {
    QString description;
    for (int i = 0; i < 12; ++i)
        description += QStringLiteral("第%1行：分号; 逗号, 反斜杠\\ 表情😀\n").arg(i);
    description += QStringLiteral("Windows 行尾\r\n最后");
    yuming::ical::Event event;
    event.uid = "a,b;c@yuming.watch";
    event.start = QDateTime::fromString("2026-12-15T03:00:00+08:00", Qt::ISODate);
    event.summary = "域名删除：a\\b";
    event.description = description;
    event.alarmText = "一小时后, 删除";
    const QByteArray bytes =
        yuming::ical::calendar({event}, QDateTime::fromString("2026-12-09T19:00:00Z", Qt::ISODate));
    expectWellFormedLines(bytes);
    EXPECT_TRUE(bytes.contains("\r\n "));
    EXPECT_TRUE(bytes.contains("DTSTART:20261214T190000Z\r\n"));

    const Calendar calendar = parse(bytes);
    ASSERT_TRUE(calendar);
    EXPECT_EQ(icalcomponent_count_errors(calendar.get()), 0);
    icalcomponent* read = icalcomponent_get_first_component(calendar.get(), ICAL_VEVENT_COMPONENT);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(text(icalcomponent_get_uid(read)), "a,b;c@yuming.watch");
    EXPECT_EQ(text(icalcomponent_get_summary(read)), "域名删除：a\\b");
    QString lineEnds = description;
    lineEnds.replace("\r\n", "\n");
    EXPECT_EQ(text(icalcomponent_get_description(read)), lineEnds);
    icalcomponent* alarm = icalcomponent_get_first_component(read, ICAL_VALARM_COMPONENT);
    ASSERT_NE(alarm, nullptr);
    EXPECT_EQ(text(icalproperty_get_description(property(alarm, ICAL_DESCRIPTION_PROPERTY))),
              "一小时后, 删除");
}

// 75 octets fit on a line; a character that would cross the bound starts the next one.
TEST(Ical, FoldingKeepsCharactersWhole) {
    using yuming::ical::fold;
    const QByteArray full(75, 'a');
    EXPECT_EQ(fold(full), full + "\r\n");
    EXPECT_EQ(fold(full + "b"), full + "\r\n b\r\n");
    EXPECT_EQ(fold(QByteArray(73, 'a') + "中b"), QByteArray(73, 'a') + "\r\n 中b\r\n");
    EXPECT_EQ(fold(QByteArray(72, 'a') + "中b"), QByteArray(72, 'a') + "中\r\n b\r\n");
    const QByteArray second = QByteArray(75, 'a') + QByteArray(74, 'c') + "d";
    EXPECT_EQ(fold(second), full + "\r\n " + QByteArray(74, 'c') + "\r\n d\r\n");
}

} // namespace
