#pragma once

#include <QStringView>

#include <cstdint>
#include <vector>

namespace yuming {

// Position of the first `needle` in `haystack` at or after `from`, or -1. Exact, case-sensitive.
// Pages are searched marker by marker many thousand times, so this tests eight or sixteen
// positions at a time for four of the needle's characters before comparing the rest.
qsizetype findText(QStringView haystack, QStringView needle, qsizetype from = 0);

// Where a text's tags open and close: bitmaps of its '<' and '>' positions, built in one pass.
// Markup markers begin with '<' and most end with '>': a search for one looks only at the
// positions where a '<' stands and a '>' stands as far after it as the marker ends, which in a
// page of tags is nearly always the marker itself. The text must outlive the index.
class TagIndex {
public:
    explicit TagIndex(QStringView text);

    // findText(view, needle, from), for any view that lies inside the indexed text. Needles that
    // do not begin with '<', and views outside the text, are searched with findText.
    qsizetype find(QStringView view, QStringView needle, qsizetype from = 0) const;
    qsizetype operator()(QStringView view, QStringView needle, qsizetype from) const {
        return find(view, needle, from);
    }

private:
    QStringView m_text;
    // Bit i of word w stands for position 64 * w + i. One word more than the text needs, so
    // that the '>' bits can always be read one word ahead.
    std::vector<std::uint64_t> m_open, m_close;
};

} // namespace yuming
