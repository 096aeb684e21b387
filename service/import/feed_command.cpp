#include "import/feed_command.h"

#include <QDateTime>
#include <QFileInfo>

#include <iostream>

namespace yuming::service {

std::string intervalText(std::chrono::seconds every) {
    const std::int64_t s = every.count();
    if (s % 86400 == 0) return std::to_string(s / 86400) + 'd';
    if (s % 3600 == 0) return std::to_string(s / 3600) + 'h';
    if (s % 60 == 0) return std::to_string(s / 60) + 'm';
    return std::to_string(s) + 's';
}

namespace {

std::string timeText(std::int64_t at, const QTimeZone& zone) {
    return QDateTime::fromSecsSinceEpoch(at, zone)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
        .toStdString();
}

std::string planText(const FeedPlan& plan) {
    std::string text = "every " + intervalText(plan.every);
    if (plan.at) {
        const int h = *plan.at / 60, m = *plan.at % 60;
        text += std::string(" at ") + char('0' + h / 10) + char('0' + h % 10) + ':' + char('0' + m / 10) +
                char('0' + m % 10);
    }
    if (plan.dateOrder != DateOrder::Auto)
        text += plan.dateOrder == DateOrder::MonthFirst ? ", dates mdy" : ", dates dmy";
    return text;
}

} // namespace

std::string feedListing(const Feed& feed, const QTimeZone& zone) {
    std::string text =
        feed.plan.url + "\n  " + planText(feed.plan) + (feed.conf ? " (service.conf)" : "") + '\n';
    text += "  last fetch: ";
    if (!feed.fetched) {
        text += "never\n";
    } else {
        text += timeText(*feed.fetched, zone) + ", ";
        text += feed.status == 0 ? std::string("no answer") : "HTTP " + std::to_string(feed.status);
        if (feed.status == 200) text += ", " + std::to_string(feed.bytes) + " bytes";
        text += '\n';
    }
    if (!feed.counts.empty()) text += "  last list: " + feed.counts + '\n';
    text += "  last change: " + (feed.changed ? timeText(*feed.changed, zone) : std::string("never")) + '\n';
    text += "  next fetch: " + (feed.next ? timeText(*feed.next, zone) : std::string("now")) + '\n';
    if (!feed.error.empty())
        text += "  last error: " + feed.error +
                (feed.failures > 1 ? " (" + std::to_string(feed.failures) + " failures in a row)" : "") +
                '\n';
    return text;
}

int runFeedAdd(const std::string& dbPath, const FeedPlan& plan) {
    bool existed = false;
    std::string error;
    if (!addFeed(dbPath, plan, existed, error)) {
        std::cerr << "yuming-service: feed add failed: " << error << '\n';
        return 1;
    }
    std::cout << (existed ? "feed changed: " : "feed added: ") << plan.url << ", " << planText(plan)
              << std::endl;
    return 0;
}

int runFeedRemove(const std::string& dbPath, const std::string& url) {
    bool found = false;
    std::int64_t removed = 0;
    std::string error;
    if (!QFileInfo::exists(QString::fromStdString(dbPath))) {
        std::cerr << "yuming-service: no such feed: " << url << '\n';
        return 1;
    }
    if (!removeFeed(dbPath, url, found, removed, error)) {
        std::cerr << "yuming-service: feed remove failed: " << error << '\n';
        return 1;
    }
    if (!found) {
        std::cerr << "yuming-service: no such feed: " << url << '\n';
        return 1;
    }
    std::cout << "feed removed: " << url << ", " << removed << (removed == 1 ? " name" : " names")
              << " only it listed removed" << std::endl;
    return 0;
}

int runFeedList(const std::string& dbPath, const QTimeZone& zone) {
    if (!QFileInfo::exists(QString::fromStdString(dbPath))) {
        std::cout << "no feeds" << std::endl;
        return 0;
    }
    const auto feeds = readFeeds(dbPath);
    if (!feeds.ok()) {
        std::cerr << "yuming-service: cannot read the feeds of " << dbPath << ": " << feeds.error << '\n';
        return 1;
    }
    if (feeds.value.empty()) std::cout << "no feeds\n";
    for (const Feed& feed : feeds.value)
        std::cout << feedListing(feed, zone);
    std::cout << std::flush;
    return 0;
}

} // namespace yuming::service
