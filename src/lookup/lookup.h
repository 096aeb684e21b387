#pragma once

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
inline constexpr QStringView kEstimated = u"预算 ";
} // namespace lookup_text

// The refusal for a domain as typed, or nullopt when it may be looked up. The text is used as
// typed: a domain of blanks passes.
std::optional<QStringView> checkDomainInput(QStringView Text4);

// The text after the first `marker` up to the next occurrence of the same marker (or the end),
// cut again before the first "</span>". nullopt when the marker is missing or nothing follows it.
std::optional<QStringView> cutAfter(QStringView recvText, QStringView marker);

// A lookup page: not registered, or the expiry and deletion texts.
struct LookupPage {
    enum class Outcome { NotRegistered, Dates, Failed };
    Outcome outcome = Outcome::Failed;
    QString expiry, deletion;
};
LookupPage parseLookupPage(QStringView recvText);

// What Text6 shows for a parsed page (empty for a failed one).
QString lookupResultText(const LookupPage& page);

} // namespace yuming
