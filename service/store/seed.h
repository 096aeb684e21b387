#pragma once

#include "protocol/search_query.h"

#include <QDate>

#include <cstdint>
#include <random>
#include <string>
#include <unordered_set>

struct sqlite3;

namespace yuming::service {

struct SeedOptions {
    std::uint64_t seed = 1;
    // Names that drop within the coming 30 days (the search data).
    int rows = 200000;
};

// Names as people register them: dictionary words, pinyin syllables, digits and short letter
// runs, alone or combined. The same seed gives the same names in the same order.
class NameGenerator {
public:
    explicit NameGenerator(std::uint64_t seed) : m_random(seed) {}
    std::string next();
    Suffix nextSuffix();
    // A whole number in [0, bound).
    int below(int bound) { return static_cast<int>(m_random() % static_cast<std::uint64_t>(bound)); }

private:
    std::string word();
    std::string syllable();
    std::string digits(int count);
    std::string letters(int count);
    std::mt19937_64 m_random;
};

// Fills an empty database: `options.rows` names dropping over the 30 days from `today`, and a
// tenth as many registered names that are not about to drop, so a lookup can also show a
// registration far from its end. One transaction, one prepared statement.
bool seedDatabase(sqlite3* db, const SeedOptions& options, QDate today, std::string& error);

} // namespace yuming::service
