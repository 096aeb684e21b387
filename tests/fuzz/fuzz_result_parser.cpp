// libFuzzer: any bytes, decoded as the receive path would, through the result page parser.
#include "protocol/search_page.h"
#include "text/gbk.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = yuming::fromGbk(QByteArrayView(data, static_cast<qsizetype>(size)));
    const yuming::ResultPage page = yuming::parseResultPage(text);
    // Rows only come with a page count, and a failed count means nothing was cut.
    if (!page.pageCount && !page.rows.isEmpty()) std::abort();
    if (page.outcome == yuming::ResultPage::Outcome::NoTable && !page.rows.isEmpty()) std::abort();
    return 0;
}
