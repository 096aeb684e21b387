#include "protocol/lookup_page.h"

#include "protocol/lookup_markers.h"
#include "text/concat.h"
#include "text/gbk.h"
#include "text/piece.h"

namespace yuming {
namespace {

// The markers in GBK, converted once.
struct Written {
    std::string notRegistered = toGbkString(markers::kNotRegistered);
    std::string expiry = toGbkString(markers::kExpiry);
    std::string deletion = toGbkString(markers::kDeletion);
    std::string spanEnd = toGbkString(markers::kSpanEnd);
};

const Written& written() {
    static const Written instance;
    return instance;
}

void writeMarked(std::string& out, const std::string& marker, std::string_view value) {
    out += marker;
    out += value;
    out += written().spanEnd;
}

} // namespace

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

void writeNotRegistered(std::string& out, std::string_view echo) {
    writeMarked(out, written().notRegistered, echo);
}

void writeExpiry(std::string& out, std::string_view expiry) {
    writeMarked(out, written().expiry, expiry);
}

void writeDeletion(std::string& out, std::string_view deletion) {
    writeMarked(out, written().deletion, deletion);
}

} // namespace yuming
