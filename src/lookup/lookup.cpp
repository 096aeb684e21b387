#include "lookup/lookup.h"

#include "text/concat.h"

namespace yuming {

std::optional<QStringView> checkDomainInput(QStringView Text4) {
    if (Text4.isEmpty()) return lookup_text::kEnterDomain;
    if (Text4.first(qMin<qsizetype>(4, Text4.size())).compare(u"www.", Qt::CaseInsensitive) == 0)
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
