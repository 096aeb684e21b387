// Search cost inside the service, without HTTP: one filter set per benchmark over a drop list
// of 200,000 generated names.
#include "catalog/catalog.h"
#include "http/pages.h"
#include "store/seed.h"

#include <benchmark/benchmark.h>

#include <unordered_set>

using namespace yuming;
using namespace yuming::service;

namespace {

const Catalog& catalog() {
    static const Catalog instance = [] {
        NameGenerator names(1);
        std::vector<ListedName> rows;
        std::unordered_set<std::string> taken;
        while (rows.size() < 200000) {
            std::string name = names.next();
            const Suffix suffix = names.nextSuffix();
            if (!taken.insert(name + '.' + std::string(suffixName(suffix))).second) continue;
            const std::string day = "2026-01-" + std::to_string(10 + names.below(20));
            rows.push_back({std::move(name), suffix, day + (suffix == Cn ? " 04:30:00" : " 02:30:00")});
        }
        return Catalog(rows);
    }();
    return instance;
}

void search(benchmark::State& state, std::string key, KeyPosition position, SortKey sort) {
    SearchFilters filters;
    filters.keyword = std::move(key);
    filters.position = position;
    filters.sort = sort;
    const Catalog& list = catalog();
    for (auto _ : state) {
        const auto page = list.search(filters, kPageSize);
        benchmark::DoNotOptimize(searchPage(list, page, 0));
    }
}

} // namespace

BENCHMARK_CAPTURE(search, starts_zh, "zh", KeyPosition::Starts, SortKey::DeletionDateThenLength);
BENCHMARK_CAPTURE(search, starts_a, "a", KeyPosition::Starts, SortKey::DeletionDateThenLength);
BENCHMARK_CAPTURE(search, ends_ing, "ing", KeyPosition::Ends, SortKey::Alphabetical);
BENCHMARK_CAPTURE(search, startsend_an, "an", KeyPosition::StartsOrEnds, SortKey::Length);
BENCHMARK_CAPTURE(search, anywhere_a, "a", KeyPosition::Anywhere, SortKey::DeletionDateThenLength);
BENCHMARK_CAPTURE(search, anywhere_an, "an", KeyPosition::Anywhere, SortKey::DeletionTime);
BENCHMARK_CAPTURE(search, anywhere_hao, "hao", KeyPosition::Anywhere, SortKey::Suffix);
BENCHMARK_CAPTURE(search, anywhere_none, "qqqq", KeyPosition::Anywhere, SortKey::DeletionDateThenLength);
BENCHMARK_CAPTURE(search, no_keyword, "", KeyPosition::Anywhere, SortKey::DeletionDateThenLength);

BENCHMARK_MAIN();
