#include "search/request.h"

#include "text/concat.h"
#include "text/gbk.h"
#include "text/percent.h"

namespace yuming {
namespace {

constexpr QStringView kCrLf = u"\r\n";
constexpr QStringView kSearchReferer = u"/s/?d=0&do=do";
constexpr QStringView kLookupDomain = u"?domain=";

} // namespace

QByteArray requestBytes(QStringView target, QStringView referer, const ServiceAddress& service) {
    const QString text = concat(u"GET ", target, u" HTTP/1.1", kCrLf,
                                u"Accept: */*", kCrLf,
                                u"Referer: ", referer, kCrLf,
                                u"Accept-Language: zh-cn", kCrLf,
                                u"User-Agent: Mozilla/4.0 (Compatible; MSIE 6.0b; Windows NT 5.1; SV1; .NET CLR 2.0.50727)", kCrLf,
                                u"Host: ", service.authority(), kCrLf,
                                u"Connection: Keep-Alive", kCrLf, kCrLf);
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
