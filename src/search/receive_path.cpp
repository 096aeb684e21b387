#include "search/receive_path.h"

#include "protocol/search_markers.h"
#include "text/find.h"

#include <QList>

#include <utility>

namespace yuming {
namespace {

constexpr qsizetype kMaxHead = 64 * 1024;
constexpr qsizetype kMaxSizeLine = 1024;

// True when the header block names chunked as the transfer coding.
bool isChunked(const QByteArray& head) {
    for (const QByteArray& line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0) continue;
        if (line.first(colon).trimmed().compare("Transfer-Encoding", Qt::CaseInsensitive) != 0) continue;
        if (line.mid(colon + 1).trimmed().toLower().endsWith("chunked")) return true;
    }
    return false;
}

// Just past the empty line that ends the header block, or -1 while it has not arrived. Lines may
// end in CR LF or in LF alone, as some servers send them.
qsizetype headEnd(const QByteArray& head, qsizetype from) {
    for (qsizetype lf = head.indexOf('\n', from); lf >= 0; lf = head.indexOf('\n', lf + 1)) {
        qsizetype next = lf + 1;
        if (next < head.size() && head[next] == '\r') ++next;
        if (next < head.size() && head[next] == '\n') return next + 1;
    }
    return -1;
}

} // namespace

void ReceivePath::reset() {
    m_RecvText.clear();
    m_RecvBytes.clear();
    m_RecvDone = false;
    m_decoder.reset();
    m_framing = Framing::Head;
    m_head.clear();
    m_sizeLine.clear();
    m_chunkLeft = 0;
    m_total = 0;
    m_scanFrom = 0;
}

ReceivePath::Feed ReceivePath::feed(QByteArrayView block) {
    m_RecvBytes = block.toByteArray();
    if (m_total > m_maxBytes) return Feed::TooLarge;
    m_total += block.size();
    if (m_total > m_maxBytes) return Feed::TooLarge;
    if (m_framing == Framing::Head)
        feedHead(block);
    else
        feedBody(block);
    checkDone();
    return m_RecvDone ? Feed::Done : Feed::More;
}

void ReceivePath::feedHead(QByteArrayView bytes) {
    // An answer that does not start like HTTP has no headers to look at.
    const qsizetype before = m_head.size();
    m_head.append(bytes.data(), bytes.size());
    if (!QByteArrayView("HTTP/").startsWith(m_head.first(qMin<qsizetype>(m_head.size(), 5))) ||
        m_head.size() > kMaxHead) {
        m_framing = Framing::Plain;
        m_head.clear();
        feedBody(bytes);
        return;
    }
    const qsizetype end = headEnd(m_head, qMax<qsizetype>(0, before - 2));
    if (end < 0) {
        m_decoder.decode(bytes, m_RecvText);
        return;
    }
    const qsizetype headInBlock = end - before;
    m_decoder.decode(bytes.first(headInBlock), m_RecvText);
    m_framing = isChunked(m_head.first(end)) ? Framing::ChunkSize : Framing::Plain;
    m_head.clear();
    feedBody(bytes.sliced(headInBlock));
}

void ReceivePath::feedBody(QByteArrayView bytes) {
    if (m_framing == Framing::Plain)
        m_decoder.decode(bytes, m_RecvText);
    else
        feedChunked(bytes);
}

void ReceivePath::feedChunked(QByteArrayView bytes) {
    while (!bytes.isEmpty()) {
        switch (m_framing) {
        case Framing::ChunkSize: {
            const qsizetype lf = bytes.indexOf('\n');
            m_sizeLine.append(bytes.data(), lf < 0 ? bytes.size() : lf);
            if (m_sizeLine.size() > kMaxSizeLine) {
                // Not chunk framing after all: keep the bytes as they came.
                m_framing = Framing::Plain;
                m_decoder.decode(m_sizeLine, m_RecvText);
                m_decoder.decode(bytes.sliced(lf < 0 ? bytes.size() : lf), m_RecvText);
                return;
            }
            if (lf < 0) return;
            bytes = bytes.sliced(lf + 1);
            const QByteArray line = std::exchange(m_sizeLine, QByteArray());
            const qsizetype semi = line.indexOf(';');
            bool ok = false;
            m_chunkLeft = line.first(semi < 0 ? line.size() : semi).trimmed().toLongLong(&ok, 16);
            if (!ok || m_chunkLeft < 0) {
                // Not chunk framing after all: keep the line as it came.
                m_framing = Framing::Plain;
                m_decoder.decode(line + '\n', m_RecvText);
                continue;
            }
            m_framing = m_chunkLeft == 0 ? Framing::Trailer : Framing::ChunkData;
            break;
        }
        case Framing::ChunkData: {
            const qsizetype take = static_cast<qsizetype>(qMin<qint64>(m_chunkLeft, bytes.size()));
            m_decoder.decode(bytes.first(take), m_RecvText);
            m_chunkLeft -= take;
            bytes = bytes.sliced(take);
            if (m_chunkLeft == 0) m_framing = Framing::ChunkDataEnd;
            break;
        }
        case Framing::ChunkDataEnd: {
            const qsizetype lf = bytes.indexOf('\n');
            if (lf < 0) return;
            bytes = bytes.sliced(lf + 1);
            m_framing = Framing::ChunkSize;
            break;
        }
        case Framing::Trailer:
            return; // trailers after the last chunk carry nothing the page needs
        case Framing::Head:
        case Framing::Plain:
            m_decoder.decode(bytes, m_RecvText);
            return;
        }
    }
}

void ReceivePath::checkDone() {
    if (m_RecvDone) return;
    if (findText(m_RecvText, markers::kPageEnd, m_scanFrom) >= 0) {
        m_RecvDone = true;
        return;
    }
    m_scanFrom = qMax<qsizetype>(0, m_RecvText.size() - (markers::kPageEnd.size() - 1));
}

} // namespace yuming
