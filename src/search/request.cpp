#include "search/request.h"

#include "protocol/paths.h"
#include "protocol/request_lines.h"
#include "text/concat.h"
#include "text/gbk.h"

namespace yuming {

using namespace request_lines;

QByteArray requestBytes(QStringView target, QStringView referer, const ServiceAddress& service) {
    const QString text =
        concat(kMethod, target, kVersion, kCrLf, kAccept, kCrLf, kReferer, referer, kCrLf, kLanguage, kCrLf,
               kUserAgent, kCrLf, kHost, service.authority(), kCrLf, kConnection, kCrLf, kCrLf);
    return toGbk(text);
}

QByteArray searchRequest(QStringView queryString, const ServiceAddress& service) {
    return requestBytes(concat(paths::kSearch, u"?", queryString), concat(service.origin(), kSearchReferer),
                        service);
}

QByteArray searchRequest(const SearchQuery& query, const ServiceAddress& service) {
    return searchRequest(query.encode(), service);
}

QByteArray lookupRequest(QStringView domain, const ServiceAddress& service) {
    return lookupRequest(LookupRequest{domain.toString()}, service);
}

QByteArray lookupRequest(const LookupRequest& lookup, const ServiceAddress& service) {
    const LookupRequest::Encoded encoded = lookup.encode();
    return requestBytes(encoded.target, concat(service.origin(), encoded.referer), service);
}

} // namespace yuming
