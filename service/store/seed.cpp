#include "store/seed.h"

#include "store/deletion_rule.h"
#include "store/sqlite_util.h"

#include <iterator>
#include <string_view>

namespace yuming::service {

namespace {

constexpr std::string_view kWords[] = {
    "cloud",   "shop",   "mall",  "home",   "web",    "net",   "data",   "info",   "tech",    "soft",
    "game",    "play",   "star",  "sun",    "moon",   "sky",   "blue",   "red",    "green",   "gold",
    "silver",  "king",   "best",  "top",    "fast",   "easy",  "smart",  "happy",  "lucky",   "love",
    "life",    "world",  "city",  "china",  "asia",   "link",  "hub",    "zone",   "box",     "lab",
    "pro",     "max",    "mini",  "new",    "big",    "one",   "first",  "free",   "open",    "live",
    "news",    "media",  "video", "music",  "photo",  "book",  "read",   "learn",  "school",  "job",
    "work",    "team",   "group", "trade",  "market", "store", "buy",    "sell",   "deal",    "pay",
    "bank",    "money",  "fund",  "car",    "auto",   "bike",  "travel", "trip",   "hotel",   "food",
    "tea",     "coffee", "wine",  "fish",   "farm",   "fresh", "health", "care",   "doctor",  "baby",
    "kids",    "mom",    "pet",   "dog",    "cat",    "art",   "design", "style",  "fashion", "beauty",
    "sport",   "fit",    "run",   "go",     "way",    "road",  "map",    "space",  "time",    "day",
    "night",   "light",  "fire",  "water",  "wind",   "rain",  "snow",   "tree",   "flower",  "garden",
    "house",   "land",   "river", "sea",    "ocean",  "lake",  "hill",   "rock",   "stone",   "cloudy",
    "digital", "mobile", "phone", "app",    "code",   "dev",   "host",   "server", "site",    "page",
    "mail",    "chat",   "talk",  "social", "club",   "fan",   "vip",    "plus",   "prime",   "bright",
    "idea",    "mind",   "think", "wise",   "global", "union", "east",   "west",   "north",   "south",
    "dragon",  "tiger",  "panda",
};

constexpr std::string_view kSyllables[] = {
    "ai",    "an",   "ba",   "bai",  "bao",   "bei",   "ben",   "bo",   "cai",   "chang", "chao", "chen",
    "cheng", "chi",  "chu",  "da",   "dai",   "dian",  "ding",  "dong", "du",    "fa",    "fang", "fei",
    "feng",  "fu",   "gao",  "ge",   "gong",  "guo",   "hai",   "han",  "hao",   "he",    "hong", "hua",
    "huang", "hui",  "ji",   "jia",  "jian",  "jin",   "jing",  "jiu",  "kai",   "kang",  "ke",   "kuai",
    "lan",   "le",   "li",   "lian", "liang", "lin",   "ling",  "long", "lu",    "ma",    "mei",  "meng",
    "ming",  "mu",   "na",   "nan",  "ning",  "pin",   "ping",  "qi",   "qian",  "qiang", "qing", "quan",
    "ren",   "rong", "ru",   "shan", "shang", "sheng", "shi",   "shu",  "shun",  "si",    "song", "tai",
    "tang",  "tian", "tong", "wan",  "wang",  "wei",   "wen",   "wu",   "xi",    "xia",   "xian", "xiang",
    "xiao",  "xin",  "xing", "xu",   "ya",    "yang",  "yi",    "yin",  "ying",  "yong",  "you",  "yu",
    "yuan",  "yue",  "yun",  "zhan", "zhang", "zhen",  "zheng", "zhi",  "zhong", "zhou",  "zhu",  "zi",
};

constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyz";

} // namespace

std::string NameGenerator::word() {
    return std::string(kWords[static_cast<std::size_t>(below(static_cast<int>(std::size(kWords))))]);
}

std::string NameGenerator::syllable() {
    return std::string(kSyllables[static_cast<std::size_t>(below(static_cast<int>(std::size(kSyllables))))]);
}

std::string NameGenerator::digits(int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += static_cast<char>('0' + below(10));
    return out;
}

std::string NameGenerator::letters(int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += kLetters[static_cast<std::size_t>(below(26))];
    return out;
}

std::string NameGenerator::next() {
    const int pattern = below(100);
    if (pattern < 6) return word();
    if (pattern < 26) return word() + word();
    if (pattern < 46) return syllable() + syllable();
    if (pattern < 54) return syllable() + syllable() + syllable();
    if (pattern < 62) return digits(3 + below(5));
    if (pattern < 70) return letters(2 + below(4));
    if (pattern < 77) return word() + digits(1 + below(4));
    if (pattern < 82) return syllable() + digits(2 + below(3));
    if (pattern < 86) return letters(1 + below(2)) + digits(2 + below(3));
    if (pattern < 90) return digits(2 + below(2)) + syllable();
    if (pattern < 93) return word() + "-" + word();
    if (pattern < 96) return syllable() + word();
    return word() + syllable() + syllable();
}

Suffix NameGenerator::nextSuffix() {
    const int pick = below(100);
    if (pick < 50) return Com;
    if (pick < 65) return Net;
    if (pick < 75) return Org;
    return Cn;
}

namespace {

// Expiry for a name that drops on `deletionDate`: the rule run backwards, at a time of day
// the registration happened to be made.
Moment expiryFor(QDate deletionDate, Suffix suffix, NameGenerator& names) {
    return {deletionDate.addDays(-deletionDay(suffix)),
            QTime(names.below(24), names.below(60), names.below(60))};
}

bool insertName(Statement& insert, const std::string& name, Suffix suffix, const Moment& expiry) {
    const std::string reversed(name.rbegin(), name.rend());
    insert.reset();
    insert.bind(1, name);
    insert.bind(2, suffixName(suffix));
    insert.bind(3, reversed);
    insert.bind(4, static_cast<std::int64_t>(name.size()));
    insert.bind(5, expiry.text());
    insert.bind(6, deletionEstimate(expiry, suffix).text());
    return insert.step() == Step::Done;
}

} // namespace

bool seedDatabase(sqlite3* db, const SeedOptions& options, QDate today, std::string& error) {
    Statement insert(db, "INSERT OR IGNORE INTO domains(name, suffix, rname, length, expiry, deletion) "
                         "VALUES (?, ?, ?, ?, ?, ?)");
    if (!insert.valid()) {
        error = insert.error();
        return false;
    }
    NameGenerator names(options.seed);
    std::unordered_set<std::string> taken;
    const int registeredOnly = options.rows / 10;
    const int total = options.rows + registeredOnly;
    taken.reserve(static_cast<std::size_t>(total) * 2);
    for (int made = 0; made < total;) {
        const std::string name = names.next();
        const Suffix suffix = names.nextSuffix();
        if (!taken.insert(name + '.' + std::string(suffixName(suffix))).second) continue;
        const bool listed = made < options.rows;
        const Moment expiry =
            listed ? expiryFor(today.addDays(names.below(30)), suffix, names)
                   : Moment{today.addDays(31 + names.below(1065)), QTime(names.below(24), names.below(60))};
        if (!insertName(insert, name, suffix, expiry)) {
            error = insert.error();
            return false;
        }
        ++made;
    }
    return true;
}

} // namespace yuming::service
