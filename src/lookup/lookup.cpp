#include "lookup/lookup.h"

#include "text/concat.h"

namespace yuming {

std::optional<QStringView> checkDomainInput(QStringView domain) {
    if (domain.isEmpty()) return lookup_text::kEnterDomain;
    if (domain.first(qMin<qsizetype>(4, domain.size())).compare(u"www.", Qt::CaseInsensitive) == 0)
        return lookup_text::kNoWww;
    return std::nullopt;
}

QString lookupResultText(const LookupPage& page) {
    using namespace lookup_text;
    switch (page.outcome) {
    case LookupPage::Outcome::NotRegistered:
        return concat(kFinished, u"\r\n\r\n", kNotRegistered);
    case LookupPage::Outcome::Dates:
        return concat(kFinished, u"\r\n\r\n", kExpiryLabel, page.expiry, kDeletionLabel, page.deletion);
    case LookupPage::Outcome::Failed:
        break;
    }
    return {};
}

} // namespace yuming
