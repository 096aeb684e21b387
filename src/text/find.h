#pragma once

#include <QStringView>

#include <cstdint>
#include <vector>

namespace yuming {

// Position of the first `needle` in `haystack` at or after `from`, or -1. Exact, case-sensitive.
// Pages are searched marker by marker many thousand times, so this tests eight or sixteen
// positions at a time for four of the needle's characters before comparing the rest.
qsizetype findText(QStringView haystack, QStringView needle, qsizetype from = 0);

// The positions of one character in a text, kept as a bitmap built in one pass. Markup markers
// begin with '<', and a page has a '<' in every dozen or so characters: a search for such a
// marker looks at those positions only, so finding one a few tags on costs a few comparisons
// instead of a pass over everything in between. The text must outlive the index.
class AnchorIndex {
public:
    AnchorIndex(QStringView text, char16_t anchor);

    // findText(view, needle, from), for any view that lies inside the indexed text. Needles that
    // do not begin with the anchor, and views outside the text, are searched with findText.
    qsizetype find(QStringView view, QStringView needle, qsizetype from = 0) const;
    qsizetype operator()(QStringView view, QStringView needle, qsizetype from) const {
        return find(view, needle, from);
    }

private:
    QStringView m_text;
    char16_t m_anchor;
    std::vector<std::uint64_t> m_bits; // bit i of word w: the anchor stands at 64 * w + i
};

} // namespace yuming
