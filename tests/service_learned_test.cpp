// Names learned by lookups laid over a catalogue must search exactly as a catalogue built from the
// changed list: compared on generated names in every order, under several filters and pages. And
// catalogues switched in with their images kept in files read as they did in memory.
#include "catalog/catalog.h"
#include "catalog/catalog_keeper.h"
#include "store/schema.h"
#include "store/store.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace yuming;
using namespace yuming::service;

namespace {

std::vector<ListedName> generated(std::mt19937& random, int count) {
    static const std::string letters = "abcdefghij0123-";
    static const Suffix suffixes[] = {Com, Net, Org, Cn};
    std::vector<ListedName> rows;
    for (int i = 0; i < count; ++i) {
        std::string name;
        const int length = 1 + static_cast<int>(random() % 9);
        for (int k = 0; k < length; ++k)
            name += letters[random() % (k == 0 ? 14 : letters.size())];
        const std::string day = "2026-06-" + std::to_string(10 + random() % 12);
        const std::string time = random() % 2 ? " 02:30:00" : " 1" + std::to_string(random() % 10) + ":00:00";
        rows.push_back({name, suffixes[random() % 4], day + time});
    }
    // One row a name and suffix, as the database keeps them.
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        return std::pair(a.name, a.suffix) < std::pair(b.name, b.suffix);
    });
    rows.erase(
        std::unique(rows.begin(), rows.end(),
                    [](const auto& a, const auto& b) { return a.name == b.name && a.suffix == b.suffix; }),
        rows.end());
    return rows;
}

std::vector<std::string> shown(const Catalog& catalog, const Catalog::Page& page) {
    std::vector<std::string> out;
    for (std::uint32_t id : page.rows) {
        const auto row = catalog.row(id);
        out.push_back(std::string(row.name) + '.' + std::string(suffixName(row.suffix)) + ' ' +
                      std::string(row.deletion));
    }
    return out;
}

std::vector<SearchFilters> filterSet() {
    std::vector<SearchFilters> all;
    const auto add = [&](std::string key, KeyPosition position, auto change) {
        SearchFilters filters;
        filters.keyword = std::move(key);
        filters.position = position;
        filters.suffixes = kAllSuffixes;
        change(filters);
        all.push_back(filters);
    };
    const auto same = [](SearchFilters&) {};
    add("", KeyPosition::Anywhere, same);
    add("a", KeyPosition::Anywhere, same);
    add("b1", KeyPosition::Anywhere, same);
    add("c", KeyPosition::Starts, same);
    add("0", KeyPosition::Ends, same);
    add("d", KeyPosition::StartsOrEnds, same);
    add("", KeyPosition::Anywhere, [](SearchFilters& f) { f.kind = CharKind::Letters; });
    add("", KeyPosition::Anywhere, [](SearchFilters& f) { f.kind = CharKind::Digits; });
    add("e", KeyPosition::Anywhere, [](SearchFilters& f) {
        f.minLength = 3;
        f.maxLength = 6;
        f.suffixes = Com | Org;
    });
    add("a b", KeyPosition::Anywhere, same);
    return all;
}

// Every order, filter and page of `learned` against `expected`.
void expectSame(const Catalog& learned, const Catalog& expected) {
    EXPECT_EQ(learned.size(), expected.size());
    EXPECT_EQ(learned.firstDeletion(), expected.firstDeletion());
    for (const SortKey sort : {SortKey::DeletionTime, SortKey::Alphabetical, SortKey::Suffix, SortKey::Length,
                               SortKey::DeletionDateThenLength})
        for (SearchFilters filters : filterSet()) {
            filters.sort = sort;
            const std::int64_t pages = (expected.search(filters, 20).total + 19) / 20;
            for (const std::int64_t page : {std::int64_t{0}, std::int64_t{1}, pages / 2, pages - 1, pages}) {
                filters.page = std::max<std::int64_t>(page, 0);
                const auto want = expected.search(filters, 20);
                const auto got = learned.search(filters, 20);
                ASSERT_EQ(got.total, want.total)
                    << filters.keyword << " sort " << int(sort) << " page " << page;
                ASSERT_EQ(shown(learned, got), shown(expected, want))
                    << filters.keyword << " sort " << int(sort) << " page " << page;
            }
        }
}

} // namespace

TEST(CatalogLearned, SearchesAsTheCatalogueOfTheChangedList) {
    std::mt19937 random(24);
    std::vector<ListedName> rows = generated(random, 3000);
    const Catalog before(rows);

    // Taken off, moved to another time (earlier, later, another day), and new names, some of
    // them a listed name under another suffix; one name learned twice, the last word standing.
    std::vector<LearnedName> learned;
    std::vector<ListedName> after;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i % 97 == 5) {
            learned.push_back({rows[i].name, rows[i].suffix, std::nullopt});
            continue;
        }
        if (i % 89 == 7) {
            learned.push_back({rows[i].name, rows[i].suffix, "2026-05-30 00:00:00"});
            rows[i].deletion = i % 2 ? "2026-06-15 23:59:59" : "2026-07-01 01:00:00";
            learned.push_back({rows[i].name, rows[i].suffix, rows[i].deletion});
        }
        after.push_back(rows[i]);
    }
    for (const ListedName& added : generated(random, 60)) {
        const bool listed = std::any_of(rows.begin(), rows.end(), [&](const auto& row) {
            return row.name == added.name && row.suffix == added.suffix;
        });
        if (listed) continue;
        learned.push_back({added.name, added.suffix, added.deletion});
        after.push_back(added);
    }
    learned.push_back({"zzznever", Com, std::nullopt});
    ASSERT_GT(learned.size(), 80u);

    const auto merged = before.withLearned(learned);
    const Catalog expected(after);
    expectSame(*merged, expected);

    // Time passing takes learned rows off as it does the others.
    const std::string later = "2026-06-16 12:00:00";
    expectSame(*merged->since(later), *expected.since(later));
    expectSame(*before.since(later)->withLearned(learned), *expected.since(later));
    // Laying nothing over it gives the image back.
    expectSame(*merged->withLearned({}), before);
}

// A lookup's change is served the moment the keeper is told of it, and stays served, once only,
// after the keeper has built the catalogue of the changed names.
TEST(CatalogLearned, TheKeeperServesALearnedChangeAtOnceAndFoldsItIn) {
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("learned.sqlite")).toStdString();
    const QDate today = QDate::currentDate();
    std::string error;
    ASSERT_TRUE(prepareDatabase(path, {.seed = 3, .rows = 300}, today, error)) << error;
    const OpenedCatalogue opened = openCatalogue(path, QDateTime::currentDateTime());
    ASSERT_TRUE(opened.catalog) << opened.error;
    CatalogHolder catalogs(opened.catalog);
    CatalogKeeper keeper(path, catalogs, opened);
    SearchFilters all;
    all.suffixes = kAllSuffixes;
    const auto first = opened.catalog->search(all, 50);
    ASSERT_FALSE(first.rows.empty());
    const auto row = opened.catalog->row(first.rows.back());
    const ListedName gone{std::string(row.name), row.suffix, std::string(row.deletion)};

    const std::string deletion = today.addDays(40).toString(Qt::ISODate).toStdString() + " 02:30:00";
    StoreWriter writer(path);
    ASSERT_TRUE(writer.learn("zzqxtaught", Com, Registration{deletion, deletion}, true, today).value);
    ASSERT_TRUE(writer.learn(gone.name, gone.suffix, std::nullopt, false, today).value);
    keeper.learn({"zzqxtaught", Com, deletion});
    keeper.learn({gone.name, gone.suffix, std::nullopt});

    const auto expectServed = [&] {
        const auto catalog = catalogs.current();
        SearchFilters taught = all;
        taught.keyword = "zzqx";
        const auto page = catalog->search(taught, 50);
        ASSERT_EQ(page.total, 1);
        EXPECT_EQ(catalog->row(page.rows[0]).deletion, deletion);
        SearchFilters named = all;
        named.keyword = gone.name;
        named.position = KeyPosition::Starts;
        for (std::uint32_t id : catalog->search(named, 50).rows)
            EXPECT_FALSE(catalog->row(id).name == gone.name && catalog->row(id).suffix == gone.suffix);
        EXPECT_EQ(catalog->search(all, 50).total, first.total);
    };
    expectServed();
    // A turn of the keeper that begins after the change reads the names with it.
    for (int turn = 0; turn < 2; ++turn) {
        std::promise<void> caughtUp;
        keeper.refresh([&] { caughtUp.set_value(); });
        ASSERT_EQ(caughtUp.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    }
    expectServed();
}

// A switch moves the served image into a file under its readers and lets its pages go: what a
// search reads stays the same, during the switch and after it, and images made meanwhile are
// made in files too.
TEST(CatalogSwitch, ImagesInFilesAndLetGoOfReadTheSameBytes) {
    QTemporaryDir dir;
    std::mt19937 random(7);
    const Catalog original(generated(random, 2000));
    std::string error;
    const auto served = Catalog::fromImage(CatalogImage::copyOf(original.image()), error);
    ASSERT_TRUE(served) << error;
    EXPECT_FALSE(served->storage().inFile());
    std::shared_ptr<const Catalog> made;
    {
        const LeanSwitch lean(dir.path().toStdString(), &served->storage());
        EXPECT_TRUE(served->storage().inFile());
        made = Catalog::fromImage(CatalogImage::copyOf(original.image()), error);
        ASSERT_TRUE(made) << error;
        EXPECT_TRUE(made->storage().inFile());
        // Long enough for the pages to be let go of more than once.
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        EXPECT_EQ(served->image(), original.image());
        expectSame(*served, original);
    }
    EXPECT_EQ(made->image(), original.image());
    expectSame(*made, original);
    EXPECT_FALSE(CatalogImage(64).inFile());
    // Nothing is left in the folder.
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}
