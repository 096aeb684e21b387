#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <string>

namespace yuming {

// Code page 936 (GBK), the code page of every byte the service sends or receives.
// Single bytes 0x00-0x7F are ASCII, 0x80 is the euro sign, 0x81-0xFE lead a two-byte character.

// Decodes a stream that arrives in blocks of any size. A lead byte at the end of a block is
// carried over to the next one, so a character split between two blocks decodes as one.
// Bytes that are not GBK decode to U+FFFD and decoding goes on after them.
class GbkDecoder {
public:
    // Decodes `bytes` and appends the text to `out`.
    void decode(QByteArrayView bytes, QString& out);
    QString decode(QByteArrayView bytes);
    // Ends the stream: a lead byte still waiting becomes U+FFFD.
    void flush(QString& out);
    bool hasPending() const { return m_pending != 0; }
    void reset() { m_pending = 0; }

private:
    unsigned char m_pending = 0;
};

// Whole-text conversions.
QString fromGbk(QByteArrayView bytes);
// Characters without a GBK form become `unmappable`.
QByteArray toGbk(QStringView text, char unmappable = '?');
// The same bytes as a std::string, for the service's pages.
std::string toGbkString(QStringView text);
// The GBK bytes of one character, or an empty array when it has none.
QByteArray gbkBytesOf(char16_t ch);

} // namespace yuming
