#include "search/request.h"

#include "protocol/request_lines.h"
#include "text/concat.h"
#include "text/gbk.h"
#include "text/percent.h"

namespace yuming {

using namespace request_lines;

QByteArray requestBytes(QStringView target, QStringView referer, const ServiceAddress& service) {
    const QString text = concat(kMethod, target, kVersion, kCrLf,
                                kAccept, kCrLf,
                                kReferer, referer, kCrLf,
                                kLanguage, kCrLf,
                                kUserAgent, kCrLf,
                                kHost, service.authority(), kCrLf,
                                kConnection, kCrLf, kCrLf);
    return toGbk(text);
}

QByteArray searchRequest(QStringView queryString, const ServiceAddress& service) {
    return requestBytes(concat(paths::kSearch, u"?", queryString), concat(service.origin(), kSearchReferer),
                        service);
}

QByteArray lookupRequest(QStringView domain, const ServiceAddress& service) {
    const QString d = escapeTargetValue(domain);
    const QString page = concat(paths::kLookup, kLookupDomain, d);
    return requestBytes(concat(page, paths::kLookupParams),
                        concat(service.origin(), page, paths::kLookupRefererParams), service);
}

} // namespace yuming
