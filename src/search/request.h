#pragma once

#include "search/service_address.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace yuming::paths {

// The service's pages.
inline constexpr QStringView kSearch = u"/s/";
inline constexpr QStringView kLookup = u"/whois/";
inline constexpr QStringView kBanner = u"/asd/yuming.htm";
// The lookup always asks for all three of its answers.
inline constexpr QStringView kLookupParams = u"&Whois%5B%5D=1&Whois%5B%5D=2&Whois%5B%5D=3";
// The Referer of a lookup carries only the second and third.
inline constexpr QStringView kLookupRefererParams = u"&Whois%5B%5D=2&Whois%5B%5D=3";

} // namespace yuming::paths

namespace yuming {

// The request the tool sends: the request line, the six header lines the service has always
// seen from it, and the empty line, each ended by CR LF; as GBK bytes.
QByteArray requestBytes(QStringView target, QStringView referer, const ServiceAddress& service);

// "GET /s/?" + queryString, with the search page's Referer.
QByteArray searchRequest(QStringView queryString, const ServiceAddress& service);

// "GET /whois/?domain=" + domain + the three lookup parameters, with the lookup Referer.
// The domain goes out as typed, but bytes that cannot stand in a request target are escaped.
QByteArray lookupRequest(QStringView domain, const ServiceAddress& service);

} // namespace yuming
