// The kinds of search bench/search_kinds.lua sends over HTTP, asked of the catalogue directly on
// one thread: for each kind the slowest of its keywords, so a figure here says which keyword
// drives the kind's p99 under wrk. `catalog_kinds DATABASE [RUNS]`: the database's stored search
// index (built from its names when none fits), each keyword asked RUNS times (default 20), of
// every kind or only KIND. Timing begins WAIT_S seconds (default 4) after the read, once the
// block counts' thread is done (at 5 M names it takes several seconds).
#include "catalog/catalog.h"
#include "catalog/catalog_store.h"
#include "http/pages.h"
#include "protocol/moment.h"
#include "store/store.h"

#include <QDateTime>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace yuming;
using namespace yuming::service;

namespace {

using Clock = std::chrono::steady_clock;

struct Kind {
    const char* name;
    std::vector<std::string> keys;
    KeyPosition position = KeyPosition::Anywhere;
    CharKind chars = CharKind::Any;
    SortKey sort = SortKey::DeletionDateThenLength;
    std::uint8_t suffixes = Com | Net;
    std::vector<std::int64_t> pages{0};
};

std::vector<Kind> kinds() {
    const std::vector<std::string> mixed{"zh",   "an",  "hao", "shop", "8",   "li",   "cloud",
                                         "xin",  "ma",  "go",  "wang", "88",  "tian", "a",
                                         "data", "yun", "ch",  "love", "bei", "52"};
    const std::vector<std::string> broad{"a", "e", "i", "o", "n", "g", "h", "u"};
    std::vector<Kind> out{
        {"prefix", mixed, KeyPosition::Starts},
        {"suffix", mixed, KeyPosition::Ends},
        {"startsend", mixed, KeyPosition::StartsOrEnds},
        {"contains1", {"a", "e", "i", "o", "n", "g", "h", "u", "8", "x", "q", "z"}},
        {"contains2", {"an", "zh", "li", "ma", "go", "88", "ch", "ng", "ou", "13", "xi", "er"}},
        {"contains3", {"hao", "xin", "ang", "ing", "520", "sho", "clo", "yun", "abc", "888", "zha", "tec"}},
        {"letters", mixed, KeyPosition::Anywhere, CharKind::Letters},
        {"digits",
         {"8", "88", "520", "1", "66", "2026", "0", "9", "168", "3", "99", "51"},
         KeyPosition::Anywhere,
         CharKind::Digits},
    };
    const SortKey sorts[] = {SortKey::DeletionTime, SortKey::Alphabetical, SortKey::Suffix, SortKey::Length,
                             SortKey::DeletionDateThenLength};
    const char* sortNames[] = {"o_1", "o_2", "o_3", "o_4", "o_5"};
    for (int s = 0; s < 5; ++s)
        out.push_back({sortNames[s], mixed, KeyPosition::Anywhere, CharKind::Any, sorts[s]});
    out.push_back({"deep200",
                   broad,
                   KeyPosition::Anywhere,
                   CharKind::Any,
                   SortKey::DeletionDateThenLength,
                   Com | Net,
                   {200}});
    out.push_back({"deep2000",
                   broad,
                   KeyPosition::Anywhere,
                   CharKind::Any,
                   SortKey::DeletionDateThenLength,
                   Com | Net,
                   {2000}});
    out.push_back({"nokey",
                   {""},
                   KeyPosition::Anywhere,
                   CharKind::Any,
                   SortKey::DeletionDateThenLength,
                   Com | Net,
                   {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}});
    out.push_back({"nokey2000",
                   {""},
                   KeyPosition::Anywhere,
                   CharKind::Any,
                   SortKey::DeletionDateThenLength,
                   Com | Net,
                   {2000}});
    out.push_back({"com", mixed, KeyPosition::Anywhere, CharKind::Any, SortKey::DeletionDateThenLength, Com});
    out.push_back(
        {"all4", mixed, KeyPosition::Anywhere, CharKind::Any, SortKey::DeletionDateThenLength, kAllSuffixes});
    // Beyond the wrk kinds: deep pages of every sort and of two letters, and a length bound.
    for (int s = 0; s < 5; ++s)
        out.push_back({sortNames[s],
                       {"", "a", "an"},
                       KeyPosition::Anywhere,
                       CharKind::Any,
                       sorts[s],
                       Com | Net,
                       {1000, 5000}});
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: catalog_kinds DATABASE [RUNS [KIND]]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    const std::string only = argc > 3 ? argv[3] : "";
    Store store(argv[1]);
    if (!store.isOpen()) return std::fprintf(stderr, "cannot open %s\n", argv[1]), 1;
    const QDateTime now = QDateTime::currentDateTime();
    auto t0 = Clock::now();
    auto stored = storedCatalogue(store, now);
    std::shared_ptr<const Catalog> catalog = stored.value.catalog;
    if (!catalog) {
        std::printf("no stored index (%s): building\n", stored.value.note.c_str());
        auto built = builtCatalogue(store, now);
        if (!built.ok()) return std::fprintf(stderr, "%s\n", built.error.c_str()), 1;
        catalog = built.value;
    }
    std::printf("%zu names, read in %.0f ms\n", catalog->size(),
                std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    // The image read again from memory: the part of start-up that works out what is not stored.
    for (int i = 0; i < 2; ++i) {
        CatalogImage copy = CatalogImage::copyOf(catalog->image());
        std::string error;
        t0 = Clock::now();
        const auto again = Catalog::fromImage(std::move(copy), error);
        const auto read = Clock::now();
        const auto later = again->since(Moment::of(now).text());
        std::printf("image read in %.0f ms, since() in %.0f ms\n",
                    std::chrono::duration<double, std::milli>(read - t0).count(),
                    std::chrono::duration<double, std::milli>(Clock::now() - read).count());
    }
    // The block counts are worked out on a thread of their own after the read: timed searches
    // begin once they are there, as they are a second or two into a service's life.
    const char* wait = std::getenv("WAIT_S");
    std::this_thread::sleep_for(std::chrono::seconds(wait ? std::atoi(wait) : 4));
    std::printf("| kind | slowest search | its p50 ms | its max ms | all p50 ms |\n|---|---|---|---|---|\n");
    for (const Kind& kind : kinds()) {
        if (!only.empty() && only != kind.name) continue;
        std::vector<double> all;
        double worst = -1, worstMax = 0;
        std::string worstLabel;
        for (const std::string& key : kind.keys)
            for (const std::int64_t page : kind.pages) {
                SearchFilters f;
                f.keyword = key;
                f.position = kind.position;
                f.kind = kind.chars;
                f.sort = kind.sort;
                f.suffixes = kind.suffixes;
                f.page = page;
                std::vector<double> times;
                for (int r = 0; r < runs; ++r) {
                    const auto start = Clock::now();
                    const auto result = catalog->search(f, kPageSize);
                    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                    if (result.total < 0) return 1;
                }
                std::sort(times.begin(), times.end());
                all.insert(all.end(), times.begin(), times.end());
                if (times[times.size() / 2] > worst) {
                    worst = times[times.size() / 2];
                    worstMax = times.back();
                    worstLabel = "\"" + key + "\" page " + std::to_string(page);
                }
            }
        std::sort(all.begin(), all.end());
        std::printf("| %s | %s | %.2f | %.2f | %.3f |\n", kind.name, worstLabel.c_str(), worst, worstMax,
                    all[all.size() / 2]);
        std::fflush(stdout);
    }
    return 0;
}
