#pragma once

#include "text/gbk.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace yuming {

// Turns the blocks of one answer, as the socket delivers them, into RecvText: decoded from GBK
// block by block (a character split between blocks is carried over) and checked for "</html>"
// after each block. The status line and headers stay in the text as received. A chunked body is
// unframed before decoding, so chunk-size lines never land inside a marker or a value.
class ReceivePath {
public:
    enum class Feed { More, Done, TooLarge };

    explicit ReceivePath(qsizetype maxBytes = 16 * 1024 * 1024) : m_maxBytes(maxBytes) {}

    void reset();
    void setMaxBytes(qsizetype maxBytes) { m_maxBytes = maxBytes; }
    // One block from the socket. Done once the text holds "</html>"; later blocks are still
    // appended. TooLarge once the answer has passed the size bound (nothing more is appended).
    Feed feed(QByteArrayView block);

    const QString& RecvText() const { return m_RecvText; }
    const QByteArray& RecvBytes() const { return m_RecvBytes; }
    bool RecvDone() const { return m_RecvDone; }

private:
    enum class Framing { Head, Plain, ChunkSize, ChunkData, ChunkDataEnd, Trailer };

    void feedHead(QByteArrayView bytes);
    void feedBody(QByteArrayView bytes);
    void feedChunked(QByteArrayView bytes);
    void startBody();
    void checkDone();

    QString m_RecvText;
    QByteArray m_RecvBytes;
    bool m_RecvDone = false;
    GbkDecoder m_decoder;
    Framing m_framing = Framing::Head;
    QByteArray m_head;      // the status line and headers, to see whether the body is chunked
    QByteArray m_sizeLine;  // a chunk-size line being collected
    qint64 m_chunkLeft = 0;
    qsizetype m_total = 0;
    qsizetype m_scanFrom = 0; // "</html>" cannot start before here
    qsizetype m_maxBytes;
};

} // namespace yuming
