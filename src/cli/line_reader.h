#pragma once

#include <QByteArray>
#include <QIODevice>

#include <cstdint>

namespace yuming::cli {

// The lines of a device one at a time, in memory that stays the same whatever it holds: a line
// longer than the bound is passed over in pieces, never held, and reported by its number.
class LineReader {
public:
    // Longer lines are refused. A domain is at most 253 bytes; this leaves room for blanks and a
    // comment without holding whatever a stray file may be.
    static constexpr qsizetype kLongestLine = 4096;

    enum class Kind {
        Line,     // `text` is the line, without its line end ("\n" or "\r\n")
        TooLong,  // the line `number` is longer than kLongestLine
        Skipping, // still passing over that line: call again
        End,
    };
    struct Next {
        Kind kind = Kind::End;
        QByteArray text;
        std::int64_t number = 0;
    };

    explicit LineReader(QIODevice& in);
    Next next();

private:
    bool refill();
    Next finishLine();

    QIODevice& m_in;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    qsizetype m_filled = 0;
    QByteArray m_line;
    std::int64_t m_number = 1;
    bool m_skipping = false;
    bool m_ended = false;
};

} // namespace yuming::cli
