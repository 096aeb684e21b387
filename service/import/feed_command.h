#pragma once

#include "import/feed_store.h"

#include <QTimeZone>

#include <string>

namespace yuming::service {

// `yuming-service feed add|remove|list`: a line on stdout, errors on stderr; 0 done, 1 failed.
int runFeedAdd(const std::string& dbPath, const FeedPlan& plan);
int runFeedRemove(const std::string& dbPath, const std::string& url);
int runFeedList(const std::string& dbPath, const QTimeZone& zone);

// What `feed list` shows of one feed, its lines indented under its URL.
std::string feedListing(const Feed& feed, const QTimeZone& zone);
// "24h", "6h", "90m", "2d": an interval as written.
std::string intervalText(std::chrono::seconds every);

} // namespace yuming::service
