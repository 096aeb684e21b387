#pragma once

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
