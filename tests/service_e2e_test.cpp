// The tool's own search and lookup against the real reference service, checked against the
// service's database read directly.
#include "lookup/lookup_command.h"
#include "search/search_commands.h"
#include "search/service_link.h"
#include "support/qt_print.h"
#include "support/service_process.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <gtest/gtest.h>

using namespace yuming;

namespace {

struct Db {
    explicit Db(const QString& path) {
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
        // The service may be storing its search index at that moment.
        sqlite3_busy_timeout(db, 10000);
    }
    ~Db() { sqlite3_close(db); }
    // Every row of a query as tab-joined columns. `listed` in a query stands for the names on
    // the service's drop list: those deleted from today on, for 30 days.
    QStringList rows(const char* sql, const QString& param = {}) const {
        sqlite3_stmt* st = nullptr;
        QStringList out;
        const QByteArray text = QByteArray(sql).replace(
            "listed", "(SELECT * FROM domains WHERE deletion >= datetime('now', 'localtime') "
                      "AND deletion < date('now', 'localtime', '+30 days'))");
        if (sqlite3_prepare_v2(db, text.constData(), -1, &st, nullptr) != SQLITE_OK) return {"error"};
        const QByteArray p = param.toUtf8();
        if (!param.isNull())
            sqlite3_bind_text(st, 1, p.constData(), static_cast<int>(p.size()), SQLITE_TRANSIENT);
        while (sqlite3_step(st) == SQLITE_ROW) {
            QStringList cols;
            for (int c = 0; c < sqlite3_column_count(st); ++c)
                cols << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, c)));
            out << cols.join('\t');
        }
        sqlite3_finalize(st);
        return out;
    }
    sqlite3* db = nullptr;
};

class AgainstService : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        service = new yuming::testing::ServiceProcess();
        ASSERT_TRUE(service->start()) << service->error().toStdString();
    }
    static void TearDownTestSuite() {
        delete service;
        service = nullptr;
    }
    void SetUp() override {
        QObject::connect(&search, &SearchCommands::rowsAdded, [this](const QList<ResultRow>& r) {
            for (const ResultRow& row : r)
                rows << QStringList{row.domain().toString(), row.length().toString(), row.suffix().toString(),
                                    row.deletionTime().toString()}
                            .join('\t');
        });
        QObject::connect(&search, &SearchCommands::statusChanged, [this](const QString& s) { status = s; });
        QObject::connect(&lookup, &LookupCommand::resultTextChanged,
                         [this](const QString& s) { result = s; });
    }
    void runSearch(const SearchQuery& filters) {
        rows.clear();
        QSignalSpy done(&search, &SearchCommands::finished);
        ASSERT_EQ(search.newSearch(filters), CommandResult::started());
        ASSERT_TRUE(done.wait(10000));
    }
    void runLookup(const QString& domain) {
        QSignalSpy done(&lookup, &LookupCommand::finished);
        ASSERT_EQ(lookup.lookup(domain), CommandResult::started());
        ASSERT_TRUE(done.wait(10000));
    }

    static inline yuming::testing::ServiceProcess* service = nullptr;
    QTemporaryDir dir;
    ServiceLink link;
    SearchCommands search{link, *ServiceAddress::parse(service->address())};
    LookupCommand lookup{link, *ServiceAddress::parse(service->address()), dir.filePath("xxx.txt")};
    QStringList rows;
    QString status, result;
};

TEST_F(AgainstService, PrefixSearchMatchesTheDatabase) {
    const Db db(service->dbPath());
    // The most common first letter, so the search spans several pages.
    const QString letter = db.rows("SELECT substr(name, 1, 1) AS c FROM listed WHERE suffix IN ('com','net') "
                                   "GROUP BY c ORDER BY count(*) DESC LIMIT 1")
                               .value(0);
    SearchQuery filters;
    filters.keyword = letter;
    filters.position = KeyPosition::Starts;
    filters.sort = SortKey::Alphabetical;
    runSearch(filters);
    EXPECT_EQ(status, "完成...");
    const QStringList want =
        db.rows("SELECT name || '.' || suffix, length, suffix, deletion FROM listed "
                "WHERE name LIKE ?1 || '%' AND suffix IN ('com','net') ORDER BY name, suffix LIMIT 50",
                letter);
    EXPECT_EQ(rows, want);
    const int count =
        db.rows("SELECT count(*) FROM listed WHERE name LIKE ?1 || '%' AND suffix IN ('com','net')", letter)
            .value(0)
            .toInt();
    EXPECT_EQ(search.state().pageCountText, QString::number((count + 49) / 50));
    ASSERT_GT(count, 50);

    // The next page continues where the first one ended.
    QSignalSpy done(&search, &SearchCommands::finished);
    rows.clear();
    ASSERT_EQ(search.nextPage(filters), CommandResult::started());
    ASSERT_TRUE(done.wait(10000));
    EXPECT_EQ(
        rows,
        db.rows(
            "SELECT name || '.' || suffix, length, suffix, deletion FROM listed WHERE name LIKE ?1 || '%' "
            "AND suffix IN ('com','net') ORDER BY name, suffix LIMIT 50 OFFSET 50",
            letter));
}

TEST_F(AgainstService, LookupShowsTheDatesTheDatabaseHolds) {
    const Db db(service->dbPath());
    const QStringList row =
        db.rows("SELECT name || '.' || suffix, expiry, deletion FROM domains ORDER BY id LIMIT 1")
            .value(0)
            .split('\t');
    ASSERT_EQ(row.size(), 3);
    runLookup(row[0]);
    EXPECT_EQ(result, "查询完成...\r\n\r\n域名到期时间：" + row[1] + "    域名删除时间：预算 " + row[2]);
    runLookup("surely-not-listed-0.com");
    EXPECT_EQ(result, "查询完成...\r\n\r\n域名未注册");
}

TEST_F(AgainstService, PresetSearchListsAllSuffixesSoonestFirst) {
    rows.clear();
    QSignalSpy done(&search, &SearchCommands::finished);
    ASSERT_EQ(search.presetSearch(), CommandResult::started());
    ASSERT_TRUE(done.wait(10000));
    EXPECT_EQ(status, "完成...");
    ASSERT_EQ(rows.size(), 50);
    const Db db(service->dbPath());
    const QString soonest =
        db.rows("SELECT min(substr(deletion, 1, 10)) FROM listed WHERE suffix <> 'cn'").value(0);
    EXPECT_TRUE(rows[0].split('\t')[3].startsWith(soonest)) << rows[0].toStdString();
}

// yuming-cli's runs of many requests, as a script would use them. The service's names are sample
// data, which a run says once on stderr however many pages it reads.
TEST_F(AgainstService, CliFetchesEveryPageAndLooksUpAListInOrder) {
    QString err;
    const auto runCli = [&err](const QStringList& args, int* exit, const QByteArray& input = {}) {
        QProcess p;
        p.start(QStringLiteral(YUMING_CLI_BIN), QStringList{"--service", service->address()} + args);
        p.write(input);
        p.closeWriteChannel();
        EXPECT_TRUE(p.waitForFinished(60000));
        *exit = p.exitCode();
        err = QString::fromUtf8(p.readAllStandardError());
        return QString::fromUtf8(p.readAllStandardOutput());
    };
    const Db db(service->dbPath());
    const QString letter = db.rows("SELECT substr(name, 1, 1) AS c FROM listed WHERE suffix IN ('com','net') "
                                   "GROUP BY c ORDER BY count(*) DESC LIMIT 1")
                               .value(0);
    int exit = -1;
    QStringList lines = runCli({"search", "--key", letter, "--pos", "left", "--sort", "letters",
                                "--all-pages", "--delay", "0", "--quiet"},
                               &exit)
                            .split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(exit, 0);
    const QStringList want =
        db.rows("SELECT name || '.' || suffix, length, suffix, deletion FROM listed "
                "WHERE name LIKE ?1 || '%' AND suffix IN ('com','net') ORDER BY name, suffix",
                letter);
    ASSERT_GT(want.size(), 100);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.takeFirst(), "pages\t" + QString::number((want.size() + 49) / 50));
    EXPECT_EQ(lines, want);
    EXPECT_EQ(err,
              QStringLiteral("yuming-cli: the service's list is sample data (示例数据), not real names "
                             "about to be deleted; import a real list with yuming-service import FILE\n"));

    // Ten names: registered ones, one refused, one the registry has never seen.
    const QStringList known =
        db.rows("SELECT name || '.' || suffix, expiry, deletion FROM domains ORDER BY id LIMIT 8");
    QByteArray input = "# a list\n\n";
    QStringList expected;
    for (int i = 0; i < known.size(); ++i) {
        const QStringList k = known[i].split('\t');
        if (i == 3) {
            input += "www.refused.com\n";
            expected << "www.refused.com\trefused\t\t";
        }
        input += k[0].toUtf8() + "\n";
        expected << k[0] + "\tregistered\t" + k[1] + "\t预算 " + k[2];
    }
    input += "surely-not-listed-1.net\n";
    expected << "surely-not-listed-1.net\tnot-registered\t\t";
    lines =
        runCli({"lookup", "--file", "-", "--delay", "0", "--log", dir.filePath("batch.txt")}, &exit, input)
            .split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(exit, 1) << "one input was refused";
}

} // namespace
