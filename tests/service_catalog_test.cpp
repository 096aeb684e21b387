// The catalogue's stored image and the names that leave the list as their time passes; a running
// service taking up names written to its database by someone else while clients search; how long
// a lookup waits for the catalogue and for its turn at a registry.
#include "service_test_util.h"

#include "catalog/catalog.h"
#include "catalog/catalog_keeper.h"
#include "catalog/catalog_store.h"
#include "search/request.h"
#include "store/sqlite_util.h"
#include "store/store.h"
#include "support/rdap_fixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <future>
#include <random>
#include <set>
#include <thread>
#include <tuple>

using namespace yuming;
using namespace yuming::service;
using yuming::testing::ServiceProcess;

namespace {

std::vector<ListedName> someNames() {
    return {{"alpha", Com, "2026-05-01 02:30:00"}, {"beta8", Net, "2026-05-01 02:30:00"},
            {"alpha", Cn, "2026-05-02 04:30:00"},  {"gamma", Org, "2026-05-03 02:30:00"},
            {"88", Com, "2026-05-03 02:30:00"},    {"pha-x", Com, "2026-05-04 02:30:00"}};
}

std::vector<std::string> names(const Catalog& catalog, const SearchFilters& filters) {
    std::vector<std::string> out;
    for (std::uint32_t id : catalog.search(filters, 50).rows) {
        const auto row = catalog.row(id);
        out.push_back(std::string(row.name) + '.' + std::string(suffixName(row.suffix)));
    }
    return out;
}

SearchFilters keyword(std::string key, KeyPosition position = KeyPosition::Anywhere) {
    SearchFilters filters;
    filters.keyword = std::move(key);
    filters.position = position;
    filters.sort = SortKey::DeletionTime;
    return filters;
}

// Names of a few letters, so that every keyword matches thousands of them and deep pages walk
// past many blocks; a few of each structure, several times of day and several days.
std::vector<ListedName> generatedNames(std::size_t count) {
    std::mt19937 random(7);
    const std::string letters = "abe0-";
    const Suffix suffixes[] = {Com, Net, Org, Cn};
    const char* times[] = {" 02:30:00", " 04:30:00", " 13:15:00"};
    std::set<std::string> taken;
    std::vector<ListedName> rows;
    while (rows.size() < count) {
        std::string name(1 + random() % 9, 'a');
        const bool digits = random() % 8 == 0;
        for (char& c : name)
            c = digits ? static_cast<char>('0' + random() % 3) : letters[random() % letters.size()];
        const Suffix suffix = suffixes[random() % 4];
        if (!taken.insert(name + '.' + std::string(suffixName(suffix))).second) continue;
        rows.push_back({name, suffix, "2026-05-0" + std::to_string(1 + random() % 6) + times[random() % 3]});
    }
    return rows;
}

// Names of "a" and "b" alone, 12 to 19 long: "ab" is in nearly every one, so its list is long
// enough that a deep page is walked by counted blocks in every order.
std::vector<ListedName> namesOfTwoLetters(std::size_t count) {
    std::mt19937 random(11);
    const Suffix suffixes[] = {Com, Net, Org, Cn};
    std::set<std::string> taken;
    std::vector<ListedName> rows;
    while (rows.size() < count) {
        std::string name(12 + random() % 8, 'a');
        for (char& c : name)
            c = random() % 2 ? 'a' : 'b';
        const Suffix suffix = suffixes[random() % 4];
        if (!taken.insert(name + '.' + std::string(suffixName(suffix))).second) continue;
        rows.push_back({name, suffix, "2026-05-0" + std::to_string(1 + random() % 6) + " 02:30:00"});
    }
    return rows;
}

// The rows a search should give, found the plain way: every name tested, the matches sorted.
std::vector<std::string> expectedRows(const std::vector<ListedName>& rows, const SearchFilters& f,
                                      std::string_view now) {
    struct Match {
        std::string day, deletion, name, suffix;
        std::size_t length;
    };
    std::vector<Match> matches;
    for (const ListedName& row : rows) {
        const std::string_view name = row.name;
        const bool starts = name.starts_with(f.keyword), ends = name.ends_with(f.keyword);
        const bool letters = name.find_first_not_of("abcdefghijklmnopqrstuvwxyz") == std::string_view::npos;
        const bool digits = name.find_first_not_of("0123456789") == std::string_view::npos;
        if (row.deletion < now || !(f.suffixes & row.suffix)) continue;
        if ((f.position == KeyPosition::Anywhere && name.find(f.keyword) == std::string_view::npos) ||
            (f.position == KeyPosition::Starts && !starts) || (f.position == KeyPosition::Ends && !ends) ||
            (f.position == KeyPosition::StartsOrEnds && !starts && !ends))
            continue;
        if ((f.kind == CharKind::Letters && !letters) || (f.kind == CharKind::Digits && !digits)) continue;
        if ((f.minLength > 0 && name.size() < std::size_t(f.minLength)) ||
            (f.maxLength > 0 && name.size() > std::size_t(f.maxLength)))
            continue;
        matches.push_back({row.deletion.substr(0, 10), row.deletion, row.name,
                           std::string(suffixName(row.suffix)), name.size()});
    }
    const auto earlier = [&](const Match& a, const Match& b) {
        switch (f.sort) {
        case SortKey::DeletionTime:
            return std::tie(a.deletion, a.name, a.suffix) < std::tie(b.deletion, b.name, b.suffix);
        case SortKey::Alphabetical:
            return std::tie(a.name, a.suffix) < std::tie(b.name, b.suffix);
        case SortKey::Suffix:
            return std::tie(a.suffix, a.name) < std::tie(b.suffix, b.name);
        case SortKey::Length:
            return std::tie(a.length, a.name, a.suffix) < std::tie(b.length, b.name, b.suffix);
        case SortKey::DeletionDateThenLength:
            break;
        }
        return std::tie(a.day, a.length, a.name, a.suffix) < std::tie(b.day, b.length, b.name, b.suffix);
    };
    std::sort(matches.begin(), matches.end(), earlier);
    std::vector<std::string> out;
    for (const Match& m : matches)
        out.push_back(m.name + '.' + m.suffix);
    return out;
}

} // namespace

TEST(CatalogImage, ReadBackAnswersAsTheOriginalAndDamageIsRefused) {
    const Catalog original(someNames());
    std::string error;
    const auto copy = Catalog::fromImage(CatalogImage::copyOf(original.image()), error);
    ASSERT_TRUE(copy) << error;
    for (const auto& filters : {keyword("pha"), keyword("al", KeyPosition::Starts),
                                keyword("a", KeyPosition::Ends), keyword("8"), keyword("")}) {
        EXPECT_EQ(names(*copy, filters), names(original, filters)) << filters.keyword;
        EXPECT_EQ(copy->search(filters, 50).total, original.search(filters, 50).total);
    }

    // Cut short, a foreign header, a row count that does not fit the rest: refused, not read.
    const std::string bytes(original.image());
    std::string miscounted = bytes;
    ++miscounted[16];
    for (const std::string& damaged :
         {bytes.substr(0, bytes.size() - 8), "x" + bytes.substr(1), miscounted, std::string()}) {
        error.clear();
        EXPECT_EQ(Catalog::fromImage(CatalogImage::copyOf(damaged), error), nullptr);
        EXPECT_FALSE(error.empty());
    }
}

TEST(CatalogTimes, TextsOfAnyFormKeepTheirTextAndSortAsTextDoes) {
    const Catalog catalog({{"d", Com, "2026-05-01 9:00"},
                           {"c", Com, "2026-05-01 02:30:00"},
                           {"b", Com, "2026-05-01"},
                           {"a", Com, "2026-04-30 23:59:59"},
                           {"e", Com, "2026-05-01 02:30:00"},
                           {"f", Com, "2026-13-45 99:99:99"}});
    std::vector<std::string> shown;
    for (std::uint32_t id : catalog.search(keyword(""), 50).rows)
        shown.push_back(std::string(catalog.row(id).name) + ' ' + std::string(catalog.row(id).deletion));
    EXPECT_EQ(shown, (std::vector<std::string>{"a 2026-04-30 23:59:59", "b 2026-05-01",
                                               "c 2026-05-01 02:30:00", "e 2026-05-01 02:30:00",
                                               "d 2026-05-01 9:00", "f 2026-13-45 99:99:99"}));
}

TEST(CatalogFloor, NamesWhoseTimeHasPassedLeaveEverySearchAndCount) {
    const Catalog all(someNames());
    const auto later = all.since("2026-05-02 12:00:00");
    EXPECT_EQ(later->size(), 3u);
    EXPECT_EQ(later->firstDeletion(), "2026-05-03 02:30:00");
    EXPECT_EQ(names(*later, keyword("a")), (std::vector<std::string>{"gamma.org", "pha-x.com"}));
    EXPECT_EQ(later->search(keyword("a"), 50).total, 2);
    EXPECT_EQ(later->search(keyword("ha"), 50).total, 1);
    EXPECT_EQ(later->search(keyword(""), 50).total, 3);
    EXPECT_EQ(names(*later, keyword("al", KeyPosition::Starts)), std::vector<std::string>{});
    SearchFilters byDay = keyword("");
    byDay.sort = SortKey::DeletionDateThenLength;
    EXPECT_EQ(names(*later, byDay), (std::vector<std::string>{"88.com", "gamma.org", "pha-x.com"}));
    // The original is untouched, and a floor before every name changes nothing.
    EXPECT_EQ(all.search(keyword("a"), 50).total, 5);
    EXPECT_EQ(all.since("2000-01-01 00:00:00")->size(), all.size());
}

// Every kind of search, each sort and structure, deep pages included, before and after names
// leave the list: the same count and the same rows as the plain reference.
TEST(CatalogSearch, EveryPageOfEveryKindIsTheOneTheReferenceGives) {
    const std::vector<ListedName> rows = generatedNames(30000);
    const Catalog all(rows);
    const auto later = all.since("2026-05-03 04:30:00");
    std::size_t checked = 0;
    for (const auto& [catalog, now] : {std::pair{&all, ""}, std::pair{later.get(), "2026-05-03 04:30:00"}})
        for (const std::string key : {"", "a", "e", "0", "ab", "b-", "abe", "aba", "aabe"})
            for (const KeyPosition position :
                 {KeyPosition::Anywhere, KeyPosition::Starts, KeyPosition::Ends, KeyPosition::StartsOrEnds}) {
                if (key.empty() && position != KeyPosition::Anywhere) continue;
                for (int sort = 0; sort < 5; ++sort)
                    for (const auto& [kind, suffixes, lengths] :
                         {std::tuple{CharKind::Any, Com | Net, 0}, std::tuple{CharKind::Letters, 15, 0},
                          std::tuple{CharKind::Digits, int{Cn}, 0}, std::tuple{CharKind::Any, 15, 3}}) {
                        SearchFilters f = keyword(key, position);
                        f.sort = static_cast<SortKey>(sort);
                        f.kind = kind;
                        f.suffixes = static_cast<std::uint8_t>(suffixes);
                        f.minLength = lengths;
                        f.maxLength = lengths * 2;
                        const std::vector<std::string> expected = expectedRows(rows, f, now);
                        const auto pages = static_cast<std::int64_t>(expected.size() + 49) / 50;
                        for (const std::int64_t page : {std::int64_t{0}, pages / 3, pages - 1, pages}) {
                            f.page = std::max<std::int64_t>(page, 0);
                            const auto from = std::min<std::size_t>(expected.size(), f.page * 50);
                            const std::vector<std::string> want(expected.begin() + from,
                                                                expected.begin() +
                                                                    std::min(expected.size(), from + 50));
                            ASSERT_EQ(catalog->search(f, 50).total, std::int64_t(expected.size()))
                                << "\"" << key << "\" " << int(position) << " o" << sort << " page "
                                << f.page;
                            ASSERT_EQ(names(*catalog, f), want) << "\"" << key << "\" " << int(position)
                                                                << " o" << sort << " page " << f.page;
                            ++checked;
                        }
                    }
            }
    EXPECT_GT(checked, 2000u);
}

TEST(CatalogSearch, DeepPagesOfACommonPairAreTheOnesTheReferenceGivesInEveryOrder) {
    const std::vector<ListedName> rows = namesOfTwoLetters(200000);
    const Catalog all(rows);
    const auto later = all.since("2026-05-03 04:30:00");
    for (const auto& [catalog, now] : {std::pair{&all, ""}, std::pair{later.get(), "2026-05-03 04:30:00"}})
        for (int sort = 0; sort < 5; ++sort) {
            SearchFilters f = keyword("ab");
            f.sort = static_cast<SortKey>(sort);
            f.suffixes = Com | Net | Org;
            const std::vector<std::string> expected = expectedRows(rows, f, now);
            const auto pages = static_cast<std::int64_t>(expected.size() + 49) / 50;
            for (const std::int64_t page : {std::int64_t{0}, std::int64_t{7}, pages / 2 + 3, pages - 1}) {
                f.page = page;
                const auto from = static_cast<std::size_t>(page) * 50;
                const std::vector<std::string> want(expected.begin() + from,
                                                    expected.begin() + std::min(expected.size(), from + 50));
                ASSERT_EQ(catalog->search(f, 50).total, std::int64_t(expected.size())) << "o" << sort;
                ASSERT_EQ(names(*catalog, f), want) << "o" << sort << " page " << page;
            }
        }
}

TEST(CatalogKeeping, ARunningServiceTakesUpNamesWrittenBesideItWhileClientsSearchAndLookUp) {
    ServiceProcess service;
    ASSERT_TRUE(service.start()) << service.error().toStdString();
    std::atomic<bool> done = false;
    std::atomic<int> searches = 0, failures = 0;
    std::thread client([&] {
        while (!done) {
            for (const char* target : {"/s/?key=a&kaiwei=radom&page=0", "/whois/?domain=zzqxnothing.com"}) {
                const QByteArray answer = yuming::testing::exchange(
                    service.port(),
                    QByteArray("GET ") + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
                ++searches;
                if (yuming::testing::statusOf(answer) != 200 || !answer.contains("</html>")) ++failures;
            }
        }
    });
    {
        // What an import does: the names and the index of them in one transaction, which holds
        // the file longer than a reader waits for it.
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(service.dbPath().toUtf8().constData(), &db), SQLITE_OK);
        sqlite3_busy_timeout(db, 5000);
        const std::string deletion =
            QDateTime::currentDateTime().addDays(40).toString("yyyy-MM-dd HH:mm:ss").toStdString();
        std::string error;
        const bool written =
            execute(db, "BEGIN EXCLUSIVE", error) &&
            execute(db,
                    "INSERT INTO domains(name, suffix, rname, length, expiry, deletion, origin) VALUES "
                    "('zzqximported', 'com', 'detropmixqzz', 12, '" +
                        deletion + "', '" + deletion + "', 1)",
                    error) &&
            noteDropListChanged(db, error) && saveCatalogue(db, QDateTime::currentDateTime(), error) &&
            (QThread::msleep(3000), true) && execute(db, "COMMIT", error);
        sqlite3_close(db);
        ASSERT_TRUE(written) << error;
    }
    QElapsedTimer clock;
    clock.start();
    bool seen = false;
    while (!seen && clock.elapsed() < 10000) {
        seen = yuming::testing::exchange(service.port(),
                                         "GET /s/?key=zzqx&kaiwei=starts&page=0 HTTP/1.1\r\nHost: x\r\n"
                                         "Connection: close\r\n\r\n")
                   .contains("zzqximported.com");
        if (!seen) QTest::qWait(100);
    }
    done = true;
    client.join();
    EXPECT_TRUE(seen) << "the imported name never showed";
    EXPECT_GT(searches.load(), 0);
    EXPECT_EQ(failures.load(), 0);

    // The next start reads the stored index instead of building one.
    ASSERT_EQ(service.stop(), 0);
    ServiceProcess::Options again;
    again.dbPath = service.dbPath();
    ServiceProcess restarted(again);
    ASSERT_TRUE(restarted.start()) << restarted.error().toStdString();
    EXPECT_FALSE(restarted.log().contains("building the search index")) << restarted.log().toStdString();
    EXPECT_TRUE(yuming::testing::exchange(restarted.port(),
                                          "GET /s/?key=zzqx&kaiwei=starts&page=0 HTTP/1.1\r\n"
                                          "Host: x\r\nConnection: close\r\n\r\n")
                    .contains("zzqximported.com"));
}

// A lookup that taught the drop list something waits for the catalogue to hold it, at most 3 s:
// the keeper answers well within that, with the change served; one asked as it stops is answered.
TEST(CatalogKeeping, ARefreshIsAnsweredWithinALookupsWaitWithTheChangeServed) {
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("kept.sqlite")).toStdString();
    const QDate today = QDate::currentDate();
    std::string error;
    ASSERT_TRUE(prepareDatabase(path, {.seed = 2, .rows = 100}, today, error)) << error;
    const OpenedCatalogue opened = openCatalogue(path, QDateTime::currentDateTime());
    ASSERT_TRUE(opened.catalog) << opened.error;
    CatalogHolder catalogs(opened.catalog);
    CatalogKeeper keeper(path, catalogs, opened);

    const std::string deletion = today.addDays(50).toString(Qt::ISODate).toStdString() + " 02:30:00";
    const auto learned = StoreWriter(path).learn("zzqxlearned", Com,
                                                 Registration{"2020-01-01 00:00:00", deletion}, true, today);
    ASSERT_TRUE(learned.ok() && learned.value) << learned.error;
    std::promise<void> answered;
    QElapsedTimer clock;
    clock.start();
    keeper.refresh([&] { answered.set_value(); });
    ASSERT_EQ(answered.get_future().wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(names(*catalogs.current(), keyword("zzqx")), std::vector<std::string>{"zzqxlearned.com"});

    std::promise<void> last;
    keeper.refresh([&] { last.set_value(); });
    keeper.stop();
    EXPECT_EQ(last.get_future().wait_for(std::chrono::seconds(0)), std::future_status::ready);
}

// At one request every 20 s a second lookup's turn would come after the 15 s a lookup may wait
// for it: it is answered at once without the registry.
TEST(LookupWaits, ALookupWhoseTurnIsPastTheLimitIsAnsweredAtOnceWithoutTheRegistry) {
    yuming::testing::RdapFixture fixture;
    QTemporaryDir dir;
    const QString bootstrap = QString::fromStdString(
        yuming::testing::RdapFixture::writeBootstrap(dir.path().toStdString(), fixture.baseUrl()));
    fixture.set(
        "/rdap/domain/first.com",
        {.body = R"({"objectClassName":"domain","ldhName":"first.com","status":["active"],"events":[]})"});
    ServiceProcess::Options options;
    options.rows = 100;
    options.extraArgs = {"--rdap", "--rdap-bootstrap", bootstrap, "--rdap-rate",
                         "0.05",   "--time-zone",      "UTC"};
    ServiceProcess service(options);
    ASSERT_TRUE(service.start()) << service.error().toStdString();
    const ServiceAddress address{service.host(), service.port()};
    yuming::testing::exchange(service.port(), lookupRequest(u"first.com", address));
    ASSERT_EQ(fixture.hits("/rdap/domain/first.com"), 1);

    QElapsedTimer clock;
    clock.start();
    const QByteArray second =
        yuming::testing::exchange(service.port(), lookupRequest(u"second.com", address));
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(yuming::testing::statusOf(second), 502);
    EXPECT_TRUE(second.contains("is asked too often: the next turn is in 1")) << second.toStdString();
    EXPECT_EQ(fixture.hits("/rdap/domain/second.com"), 0);
}
