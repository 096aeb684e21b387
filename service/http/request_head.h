#pragma once

#include <cstddef>
#include <string_view>

namespace yuming::service {

// Where the bytes received on a connection stand towards one whole request head. Scanning
// resumes where the last scan stopped, so a head that arrives a byte at a time costs no more
// than one that arrives at once.
struct HeadScan {
    enum class Outcome {
        Partial,     // no blank line yet, and still within the limit
        Whole,       // [start, end) is the request line through the blank line
        Malformed,   // a line ended with a bare LF
        LineTooLong, // the request line alone is over the limit
        TooLarge,    // the head is over the limit
    };
    Outcome outcome = Outcome::Partial;
    // Empty lines before the request line are skipped, as a client may send one after a body.
    std::size_t start = 0;
    std::size_t end = 0;
    // Resume point: the first byte of the line not yet ended.
    std::size_t lineStart = 0;
    bool requestLineDone = false;
};

// `limit` bounds the request line and the whole head alike.
HeadScan scanHead(std::string_view received, std::size_t limit, HeadScan from = {});

// A whole head checked byte by byte, stricter than a general parser: anything that two
// readers could frame differently is refused rather than guessed at.
struct HeadCheck {
    int status = 0; // 0: well-formed; otherwise the status to answer with
    std::string_view reason;
    bool ok() const { return status == 0; }
};
HeadCheck checkHead(std::string_view head);

// The request line of what was received, for the log: up to the first line end, at most `max` bytes.
std::string_view requestLineOf(std::string_view received, std::size_t max = 200);

} // namespace yuming::service
