#include "net/feed_fetch.h"

#include "net/http_client.h"

#include <unistd.h>

namespace yuming::service {

namespace {

HttpGet conditionalGet(const FeedFetchRequest& request) {
    HttpGet get;
    get.url = request.url;
    if (!request.validators.lastModified.empty())
        get.headers.emplace_back("If-Modified-Since", request.validators.lastModified);
    if (!request.validators.etag.empty()) get.headers.emplace_back("If-None-Match", request.validators.etag);
    get.bodyFile = request.bodyFile;
    get.maxBytes = request.maxBytes;
    get.wholeTime = request.wholeTime;
    get.idleTime = request.idleTime;
    return get;
}

FeedFetchOutcome::Kind kindOf(const HttpResult& result, const FeedValidators& sent) {
    if (!result.ok) return FeedFetchOutcome::Kind::Failed;
    if (result.status == 200) return FeedFetchOutcome::Kind::Taken;
    // A 304 to a request that was not conditional says nothing about any list.
    const bool asked = !sent.lastModified.empty() || !sent.etag.empty();
    if (result.status == 304 && asked) return FeedFetchOutcome::Kind::NotModified;
    return FeedFetchOutcome::Kind::Failed;
}

std::string failure(const HttpResult& result) {
    if (result.cutShort)
        return "the answer was cut short after " + std::to_string(result.bytes) +
               (result.bytes == 1 ? " byte" : " bytes");
    if (!result.ok) return result.error;
    if (result.status == 304) return "the server answered 304 to a request that was not conditional";
    return "the server answered " + std::to_string(result.status);
}

} // namespace

FeedFetchOutcome fetchToFile(const FeedFetchRequest& request) {
    HttpClientOptions options;
    options.caFile = request.caFile;
    options.accept = "*/*";
    const HttpResult result = fetchOnce(conditionalGet(request), options, request.stop);

    FeedFetchOutcome outcome;
    outcome.kind = kindOf(result, request.validators);
    outcome.status = result.status;
    outcome.bytes = result.bytes;
    outcome.validators = {result.lastModified, result.etag};
    outcome.url = result.url;
    if (result.ok && (result.status == 429 || result.status == 503)) outcome.retryAfter = result.retryAfter;
    if (outcome.kind == FeedFetchOutcome::Kind::Failed) outcome.error = failure(result);
    if (outcome.kind != FeedFetchOutcome::Kind::Taken && !request.bodyFile.empty())
        ::unlink(request.bodyFile.c_str());
    return outcome;
}

} // namespace yuming::service
