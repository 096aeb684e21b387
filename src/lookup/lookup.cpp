#include "lookup/lookup.h"

#include "protocol/lookup_markers.h"
#include "text/concat.h"
#include "text/piece.h"

namespace yuming {

std::optional<QStringView> checkDomainInput(QStringView Text4) {
    if (Text4.isEmpty()) return lookup_text::kEnterDomain;
    if (Text4.first(qMin<qsizetype>(4, Text4.size())).compare(u"www.", Qt::CaseInsensitive) == 0)
        return lookup_text::kNoWww;
    return std::nullopt;
}

std::optional<QStringView> cutAfter(QStringView recvText, QStringView marker) {
    // An empty part after the marker has no piece 0, so it fails like a missing marker.
    return pieceThenCut(recvText, marker, 1, markers::kSpanEnd);
}

LookupPage parseLookupPage(QStringView recvText) {
    LookupPage page;
    if (recvText.contains(markers::kNotRegistered)) {
        page.outcome = LookupPage::Outcome::NotRegistered;
        return page;
    }
    const auto expiry = cutAfter(recvText, markers::kExpiry);
    const auto deletion = cutAfter(recvText, markers::kDeletion);
    if (!expiry || !deletion) return page;
    page.outcome = LookupPage::Outcome::Dates;
    page.expiry = expiry->toString();
    page.deletion = concat(lookup_text::kEstimated, *deletion);
    return page;
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
