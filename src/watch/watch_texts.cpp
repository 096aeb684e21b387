#include "watch/watch_texts.h"

namespace yuming::watch {
namespace {

struct Word {
    QStringView word;
    QStringView text;
};

constexpr Word kStatuses[] = {
    {u"unknown", u"未知"},
    {u"active", u"正常"},
    {u"auto-renew-grace", u"续费宽限期"},
    {u"redemption", u"赎回期"},
    {u"pending-delete", u"待删除期"},
    {u"not-registered", u"未注册"},
};

constexpr Word kBases[] = {
    {u"pending-delete", u"注册局状态（待删除期）"},
    {u"redemption", u"注册局状态（赎回期）"},
    {u"auto-renew-grace", u"注册局状态（续费宽限期）"},
    {u"expired", u"到期时间（已过期）"},
    {u"active", u"到期时间"},
    {u"local", u"本服务的删除列表"},
};

template <size_t N> QString lookUp(const Word (&words)[N], QStringView word) {
    for (const Word& w : words)
        if (w.word == word) return w.text.toString();
    return word.toString();
}

} // namespace

QString statusText(QStringView status) {
    return lookUp(kStatuses, status);
}

QString basisText(QStringView basis) {
    if (basis.isEmpty()) return QStringLiteral("无");
    return lookUp(kBases, basis);
}

} // namespace yuming::watch
