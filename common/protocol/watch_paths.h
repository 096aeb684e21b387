#pragma once

#include <string_view>

namespace yuming::watch_paths {

// The watchlist's JSON API on the service; every request carries the service's token.
inline constexpr std::string_view kList = "/api/watch";
inline constexpr std::string_view kAdd = "/api/watch/add";
inline constexpr std::string_view kRemove = "/api/watch/remove";
inline constexpr std::string_view kCheck = "/api/watch/check";
inline constexpr std::string_view kHistory = "/api/watch/history"; // ?name=NAME
// Only requests under this path are the API's (and may carry a body).
inline constexpr std::string_view kPrefix = "/api/";

} // namespace yuming::watch_paths
