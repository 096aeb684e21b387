#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace yuming::service {

// What the last 200 said, to ask next time whether anything changed.
struct FeedValidators {
    std::string lastModified, etag;
};

struct FeedFetchRequest {
    std::string url;
    FeedValidators validators; // sent as If-Modified-Since / If-None-Match when not empty
    std::string bodyFile;      // where a 200's body goes
    std::string caFile;        // --rdap-ca
    std::size_t maxBytes = 1024ull * 1024 * 1024;
    std::chrono::milliseconds wholeTime{30 * 60 * 1000};
    std::chrono::milliseconds idleTime{60 * 1000};
    // Set from another thread: the fetch ends at once as failed ("stopped"), its file removed.
    const std::atomic<bool>* stop = nullptr;
};

struct FeedFetchOutcome {
    enum class Kind { Taken, NotModified, Failed } kind = Kind::Failed;
    int status = 0; // final HTTP status; 0 when none came
    std::uint64_t bytes = 0;
    FeedValidators validators;                      // of this answer
    std::optional<std::chrono::seconds> retryAfter; // on 429/503
    std::string url;                                // fetched last (after redirects)
    std::string error;                              // Failed: why
};

// Blocking. Only a 200 is Taken, its body left in `bodyFile`; whatever else comes, the file is
// removed.
FeedFetchOutcome fetchToFile(const FeedFetchRequest& request);

} // namespace yuming::service
