#pragma once

#include "protocol/lookup_request.h"
#include "protocol/search_query.h"
#include "search/service_address.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace yuming {

// The request the tool sends: the request line, the six header lines the service has always
// seen from it, and the empty line, each ended by CR LF; as GBK bytes.
QByteArray requestBytes(QStringView target, QStringView referer, const ServiceAddress& service);

// "GET /s/?" + queryString, with the search page's Referer.
QByteArray searchRequest(QStringView queryString, const ServiceAddress& service);
QByteArray searchRequest(const SearchQuery& query, const ServiceAddress& service);

// "GET /whois/?domain=" + domain + the three lookup parameters, with the lookup Referer.
// The domain goes out as typed, but bytes that cannot stand in a request target are escaped.
QByteArray lookupRequest(QStringView domain, const ServiceAddress& service);
QByteArray lookupRequest(const LookupRequest& lookup, const ServiceAddress& service);

} // namespace yuming
