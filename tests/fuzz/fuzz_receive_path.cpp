// libFuzzer: an answer fed to the receive path in blocks whose sizes the input chooses must give
// the same text and completion as the answer fed whole, so characters and markers split between
// blocks (and chunk framing split anywhere) are exercised.
#include "search/receive_path.h"

#include <cstdlib>

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
    return 0;
}
