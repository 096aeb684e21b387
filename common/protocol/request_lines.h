#pragma once

#include <QStringView>

// The request the tool has always sent, line by line: the request line's parts and the six
// header lines, each ended by CR LF, then the empty line.
namespace yuming::request_lines {

inline constexpr QStringView kCrLf = u"\r\n";
inline constexpr QStringView kMethod = u"GET ";
inline constexpr QStringView kVersion = u" HTTP/1.1";
inline constexpr QStringView kAccept = u"Accept: */*";
inline constexpr QStringView kReferer = u"Referer: ";
inline constexpr QStringView kLanguage = u"Accept-Language: zh-cn";
inline constexpr QStringView kUserAgent =
    u"User-Agent: Mozilla/4.0 (Compatible; MSIE 6.0b; Windows NT 5.1; SV1; .NET CLR 2.0.50727)";
inline constexpr QStringView kHost = u"Host: ";
inline constexpr QStringView kConnection = u"Connection: Keep-Alive";
// The search page's Referer, after the service's origin.
inline constexpr QStringView kSearchReferer = u"/s/?d=0&do=do";
// The lookup page's target: its path, this, then the domain.
inline constexpr QStringView kLookupDomain = u"?domain=";

} // namespace yuming::request_lines
