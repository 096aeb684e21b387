// libFuzzer: an answer fed to the receive path in blocks whose sizes the input chooses must give
// the same text and completion as the answer fed whole, so characters and markers split between
// blocks (and chunk framing split anywhere) are exercised. An answer whose header lines end in LF
// alone must give the same body as the same answer with CR LF.
#include "search/receive_path.h"

#include <QByteArray>

#include <cstdlib>

namespace {

// The answer with its header block's CR LF line ends written as LF alone, when the block is plain
// ASCII with no lone CR or LF of its own; empty otherwise.
QByteArray withBareLineFeeds(QByteArrayView answer, qsizetype& headSize) {
    headSize = answer.toByteArray().indexOf("\r\n\r\n");
    if (headSize < 0 || !answer.startsWith("HTTP/")) return {};
    headSize += 4;
    const QByteArrayView head = answer.first(headSize);
    for (qsizetype i = 0; i < head.size(); ++i) {
        const auto c = static_cast<unsigned char>(head[i]);
        if (c >= 0x80) return {};
        if (c == '\r' && (i + 1 == head.size() || head[i + 1] != '\n')) return {};
        if (c == '\n' && (i == 0 || head[i - 1] != '\r')) return {};
    }
    return head.toByteArray().replace("\r\n", "\n") + answer.sliced(headSize).toByteArray();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // The first byte says how many of the following bytes are block sizes.
    const size_t sizes = std::min<size_t>(data[0] % 16, size - 1);
    const auto* answer = data + 1 + sizes;
    const auto answerSize = static_cast<qsizetype>(size - 1 - sizes);

    yuming::ReceivePath whole;
    whole.feed(QByteArrayView(answer, answerSize));

    yuming::ReceivePath blocks;
    qsizetype at = 0;
    for (size_t i = 0; at < answerSize; ++i) {
        const qsizetype block = sizes == 0 ? 1 : 1 + data[1 + i % sizes] % 64;
        const qsizetype n = std::min(block, answerSize - at);
        blocks.feed(QByteArrayView(answer + at, n));
        at += n;
    }
    if (whole.RecvDone() != blocks.RecvDone() || whole.RecvText() != blocks.RecvText()) std::abort();

    qsizetype headSize = 0;
    const QByteArray bare = withBareLineFeeds(QByteArrayView(answer, answerSize), headSize);
    if (!bare.isEmpty()) {
        yuming::ReceivePath lf;
        lf.feed(bare);
        const qsizetype bareHead = headSize - (answerSize - bare.size());
        if (lf.RecvDone() != whole.RecvDone() || lf.RecvText().sliced(bareHead) != whole.RecvText().sliced(headSize))
            std::abort();
    }
    return 0;
}
