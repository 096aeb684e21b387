// libFuzzer: any bytes through the lookup page parser and the result text.
#include "lookup/lookup.h"
#include "text/gbk.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = yuming::fromGbk(QByteArrayView(data, static_cast<qsizetype>(size)));
    const yuming::LookupPage page = yuming::parseLookupPage(text);
    const QString shown = yuming::lookupResultText(page);
    if ((page.outcome == yuming::LookupPage::Outcome::Failed) != shown.isEmpty()) std::abort();
    if (page.outcome == yuming::LookupPage::Outcome::Dates && !page.deletion.startsWith(yuming::lookup_text::kEstimated))
        std::abort();
    return 0;
}
