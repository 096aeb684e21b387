#pragma once

#include "protocol/lookup_markers.h"
#include "protocol/lookup_page.h"

#include <QString>
#include <QStringView>

#include <optional>

namespace yuming {

namespace lookup_text {
inline constexpr QStringView kEnterDomain = u"请输入要查询的域名,开头不要加www！";
inline constexpr QStringView kNoWww = u"域名开头不要加www！";
inline constexpr QStringView kQuerying = u"正在查询结果...";
inline constexpr QStringView kFinished = u"查询完成...";
inline constexpr QStringView kNotRegistered = u"域名未注册";
inline constexpr QStringView kExpiryLabel = u"域名到期时间：";
inline constexpr QStringView kDeletionLabel = u"    域名删除时间：";
inline constexpr QStringView kEstimated = markers::kEstimated;
} // namespace lookup_text

// The refusal for a domain as typed, or nullopt when it may be looked up. The text is used as
// typed: a domain of blanks passes.
std::optional<QStringView> checkDomainInput(QStringView domain);

// The lookup result text for a parsed page (empty for a failed one).
QString lookupResultText(const LookupPage& page);

} // namespace yuming
