#pragma once

#include <QStringView>

namespace yuming::markers {

// The lookup page as the service writes it.
inline constexpr QStringView kNotRegistered = u"</title> 未注册<span id=span_dt_dt>";
inline constexpr QStringView kExpiry = u"域名到期时间：<span style=color:#FF6600>";
inline constexpr QStringView kDeletion = u"<span style=color:#FF6600>预算";
inline constexpr QStringView kSpanEnd = u"</span>";
// The deletion time as the tool shows it: this, then the text cut after kDeletion.
inline constexpr QStringView kEstimated = u"预算 ";

} // namespace yuming::markers
