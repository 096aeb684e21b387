#include "protocol/lookup_page.h"

#include "protocol/lookup_markers.h"
#include "text/concat.h"
#include "text/piece.h"

namespace yuming {

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
    page.deletion = concat(markers::kEstimated, *deletion);
    return page;
}

} // namespace yuming
