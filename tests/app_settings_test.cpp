#include "app/app_settings.h"
#include "lookup/lookup_log.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace yuming;

namespace {

struct Case {
    QStringList arguments;
    QString service; // expected authority, or empty when the line is refused
    QString webHost;
    QString homePage;
};

} // namespace

TEST(AppSettings, ServiceAndWebHostComeFromTheCommandLineOrTheBuild) {
    const AppSettings build;
    const Case cases[] = {
        {{}, build.service.authority(), build.webHost, build.homePage},
        {{"--service", "example.org"}, "example.org", "example.org", "http://example.org/"},
        {{"--service=127.0.0.1:8080"}, "127.0.0.1:8080", "127.0.0.1:8080", "http://127.0.0.1:8080/"},
        {{"--service", "127.0.0.1:81", "--web", "web.test"}, "127.0.0.1:81", "web.test", "http://web.test/"},
        {{"--web", "web.test:9000"}, build.service.authority(), "web.test:9000", "http://web.test:9000/"},
        {{"--service", "127.0.0.1:80"}, "127.0.0.1", "127.0.0.1", "http://127.0.0.1/"},
        {{"--service"}, {}, {}, {}},
        {{"--service", ":80"}, {}, {}, {}},
        {{"--web", "host:99999"}, {}, {}, {}},
        {{"--colour"}, {}, {}, {}},
    };
    for (const Case& c : cases) {
        const CommandLine line = parseCommandLine(QStringList{"yuming"} + c.arguments);
        const QString joined = c.arguments.join(u' ');
        if (c.service.isEmpty()) {
            EXPECT_FALSE(line.error.isEmpty()) << joined.toStdString();
            continue;
        }
        EXPECT_TRUE(line.error.isEmpty()) << joined.toStdString() << ": " << line.error.toStdString();
        EXPECT_EQ(line.settings.service.authority(), c.service) << joined.toStdString();
        EXPECT_EQ(line.settings.webHost, c.webHost) << joined.toStdString();
        EXPECT_EQ(line.settings.homePage, c.homePage) << joined.toStdString();
    }
}

TEST(AppSettings, LookupLogStaysBesideTheProgramUnlessThatFolderCannotTakeIt) {
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir folder;
    const QString beside = folder.path() + u'/';
    EXPECT_EQ(lookupLogPath(beside), beside + QStringLiteral("xxx.txt"));

    const QString elsewhere = lookupLogPath(QStringLiteral("/nonexistent-yuming-folder/"));
    // Installed into the system's programs: never beside them, even for root.
    EXPECT_EQ(lookupLogPath(QStringLiteral("/usr/bin/")), elsewhere);
    EXPECT_EQ(elsewhere,
              QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/xxx.txt"));
    QFile log(elsewhere);
    EXPECT_TRUE(log.open(QIODevice::Append)) << elsewhere.toStdString();
}
