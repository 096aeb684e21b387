#include "http/request_head.h"

#include <algorithm>

namespace yuming::service {

namespace {

bool isTokenChar(unsigned char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool isToken(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return isTokenChar(c); });
}

// Visible ASCII and the bytes from 0x80 up: the tool sends its keywords as raw GBK.
bool isTargetChar(unsigned char c) {
    return c > 0x20 && c != 0x7F;
}

bool isValueChar(unsigned char c) {
    return c == '\t' || (c >= 0x20 && c != 0x7F);
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
               return lower(x) == lower(y);
           });
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

HeadCheck refuse(std::string_view reason) {
    return {400, reason};
}

// "HTTP/1.1"; 505 for a well-formed version other than 1.x.
HeadCheck checkVersion(std::string_view version) {
    const auto digit = [&](std::size_t i) { return version[i] >= '0' && version[i] <= '9'; };
    if (version.size() != 8 || version.substr(0, 5) != "HTTP/" || !digit(5) || version[6] != '.' || !digit(7))
        return refuse("The request line does not end in an HTTP version.");
    if (version[5] != '1') return {505, "Only HTTP/1.0 and HTTP/1.1 are served here."};
    return {};
}

HeadCheck checkRequestLine(std::string_view line) {
    const auto first = line.find(' ');
    const auto second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos)
        return refuse("The request line is not a method, a target and a version.");
    const std::string_view method = line.substr(0, first);
    const std::string_view target = line.substr(first + 1, second - first - 1);
    if (!isToken(method)) return refuse("The request method is malformed.");
    if (target.empty() || !std::all_of(target.begin(), target.end(), [](char c) { return isTargetChar(c); }))
        return refuse("The request target is malformed.");
    return checkVersion(line.substr(second + 1));
}

// How the body of the request is framed, gathered over all header lines.
struct Framing {
    int contentLengths = 0;
    int transferEncodings = 0;
    int codings = 0;
    bool onlyChunked = true;
};

HeadCheck checkField(std::string_view line, Framing& framing) {
    if (line.front() == ' ' || line.front() == '\t')
        return refuse("A header line continues the one before it (line folding).");
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) return refuse("A header line has no colon.");
    const std::string_view name = line.substr(0, colon);
    if (name.find_first_of(" \t") != std::string_view::npos)
        return refuse("A header name is followed by whitespace before its colon.");
    if (!isToken(name)) return refuse("A header name is malformed.");
    const std::string_view raw = line.substr(colon + 1);
    if (!std::all_of(raw.begin(), raw.end(), [](char c) { return isValueChar(c); }))
        return refuse("A header value holds a control character.");
    const std::string_view value = trimmed(raw);

    if (equalsNoCase(name, "Content-Length")) {
        ++framing.contentLengths;
        if (value.empty() || !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return refuse("Content-Length is not a plain number.");
    } else if (equalsNoCase(name, "Transfer-Encoding")) {
        ++framing.transferEncodings;
        for (std::size_t from = 0; from <= value.size();) {
            const auto comma = std::min(value.find(',', from), value.size());
            ++framing.codings;
            framing.onlyChunked = framing.onlyChunked && equalsNoCase(trimmed(value.substr(from, comma - from)), "chunked");
            from = comma + 1;
        }
    }
    return {};
}

} // namespace

HeadScan scanHead(std::string_view received, std::size_t limit, HeadScan s) {
    while (s.outcome == HeadScan::Outcome::Partial) {
        const auto newline = received.find('\n', s.lineStart);
        if (newline == std::string_view::npos) {
            if (received.size() > limit)
                s.outcome = s.requestLineDone ? HeadScan::Outcome::TooLarge : HeadScan::Outcome::LineTooLong;
            break;
        }
        const std::size_t next = newline + 1;
        if (newline == s.lineStart || received[newline - 1] != '\r') {
            s.outcome = HeadScan::Outcome::Malformed;
        } else if (next > limit) {
            s.outcome = s.requestLineDone ? HeadScan::Outcome::TooLarge : HeadScan::Outcome::LineTooLong;
        } else if (newline == s.lineStart + 1) {
            // An empty line: before the request line it is skipped, after it the head is whole.
            if (s.requestLineDone) {
                s.end = next;
                s.outcome = HeadScan::Outcome::Whole;
            } else {
                s.start = next;
            }
        } else {
            s.requestLineDone = true;
        }
        s.lineStart = next;
    }
    return s;
}

HeadCheck checkHead(std::string_view head) {
    auto lineEnd = head.find("\r\n");
    if (lineEnd == std::string_view::npos) return refuse("The request head is incomplete.");
    if (const HeadCheck line = checkRequestLine(head.substr(0, lineEnd)); !line.ok()) return line;
    const bool http10 = head.substr(lineEnd - 3, 3) == "1.0";

    Framing framing;
    for (std::size_t from = lineEnd + 2;; from = lineEnd + 2) {
        lineEnd = head.find("\r\n", from);
        if (lineEnd == std::string_view::npos) return refuse("The request head is incomplete.");
        if (lineEnd == from) break;
        if (const HeadCheck field = checkField(head.substr(from, lineEnd - from), framing); !field.ok())
            return field;
    }
    if (framing.contentLengths > 1) return refuse("Content-Length is given more than once.");
    if (framing.transferEncodings == 0) return {};
    if (framing.contentLengths > 0) return refuse("Both Transfer-Encoding and Content-Length are given.");
    if (http10) return refuse("HTTP/1.0 has no Transfer-Encoding.");
    if (framing.codings != 1 || !framing.onlyChunked) return refuse("Transfer-Encoding other than chunked.");
    return {};
}

std::string_view requestLineOf(std::string_view received, std::size_t max) {
    const auto first = received.find_first_not_of("\r\n");
    if (first == std::string_view::npos) return {};
    const std::string_view rest = received.substr(first);
    return rest.substr(0, std::min(rest.find_first_of("\r\n"), max));
}

} // namespace yuming::service
