#include "cli/line_reader.h"

#include <algorithm>

namespace yuming::cli {
namespace {

constexpr qsizetype kChunk = 64 * 1024;

} // namespace

LineReader::LineReader(QIODevice& in) : m_in(in), m_buffer(kChunk, Qt::Uninitialized) {
    m_line.reserve(kLongestLine + 2);
}

bool LineReader::refill() {
    if (m_ended) return false;
    m_pos = 0;
    m_filled = m_in.read(m_buffer.data(), kChunk);
    // A blocking device gives at least one byte or says it has ended.
    if (m_filled <= 0) {
        m_filled = 0;
        m_ended = true;
    }
    return !m_ended;
}

LineReader::Next LineReader::next() {
    for (;;) {
        if (m_pos == m_filled && !refill()) {
            if (m_skipping || m_line.isEmpty()) {
                m_skipping = false;
                return {};
            }
            return finishLine();
        }
        const char* begin = m_buffer.constData() + m_pos;
        const char* end = m_buffer.constData() + m_filled;
        const char* newline = std::find(begin, end, '\n');
        const bool whole = newline != end;
        m_pos += (newline - begin) + (whole ? 1 : 0);
        if (m_skipping) {
            if (!whole) return {Kind::Skipping, {}, m_number};
            m_skipping = false;
            ++m_number;
            continue;
        }
        // One byte more than the bound is kept for the carriage return of a CRLF line end.
        if (m_line.size() + (newline - begin) > kLongestLine + 1) {
            const std::int64_t number = m_number;
            m_line.clear();
            m_skipping = !whole;
            if (whole) ++m_number;
            return {Kind::TooLong, {}, number};
        }
        m_line.append(begin, newline - begin);
        if (whole) return finishLine();
    }
}

LineReader::Next LineReader::finishLine() {
    if (m_line.endsWith('\r')) m_line.chop(1);
    Next line{m_line.size() > kLongestLine ? Kind::TooLong : Kind::Line, {}, m_number++};
    if (line.kind == Kind::Line) line.text = m_line;
    m_line.clear();
    return line;
}

} // namespace yuming::cli
