#include "search/search_query.h"

#include "text/concat.h"
#include "text/percent.h"

namespace yuming {
namespace {

// The values each option group sends, in the order of its buttons.
constexpr QStringView kKeyPos[] = {u"radom", u"starts", u"end", u"startsend"};
constexpr QStringView kCharKind[] = {u"zahe", u"char", u"num"};
constexpr QStringView kSortKey[] = {u"o_1", u"o_2", u"o_3", u"o_4", u"o_5"};
constexpr QStringView kSuffixPairs[] = {u"&com=com", u"&net=net", u"&org=org"};
constexpr QStringView kTail = u"&tsym=0&d=0&do=do&page=";

// An option group always has one button selected; an index outside the group (which the
// window cannot produce) selects nothing and keeps the value of the last build.
template <size_t N>
void pick(const QStringView (&values)[N], int index, QString& target) {
    if (index >= 0 && static_cast<size_t>(index) < N) target = values[index].toString();
}

} // namespace

void readFilters(const SearchControls& controls, SearchState& state) {
    state.KeyWord = controls.Text1;
    pick(kKeyPos, controls.Option1, state.KeyPos);
    state.MinLen = controls.Text2;
    state.MaxLen = controls.Text3;
    pick(kCharKind, controls.Option2, state.CharKind);
    pick(kSortKey, controls.Option3, state.SortKey);
    state.SuffixPart.clear();
    for (size_t i = 0; i < controls.Check1.size(); ++i)
        if (controls.Check1[i]) state.SuffixPart += kSuffixPairs[i];
}

void composeQueryString(SearchState& s) {
    // The typed values are escaped where a byte could not stand in the request target or would
    // split the query; everything else, GBK characters included, goes out as it is.
    s.QueryString = concat(u"key=", escapeTargetValue(s.KeyWord), u"&kaiwei=", s.KeyPos, u"&min=",
                           escapeTargetValue(s.MinLen), u"&max=", escapeTargetValue(s.MaxLen), u"&op=",
                           s.CharKind, u"&o=", s.SortKey, s.SuffixPart, kTail, s.PageNo);
}

void buildSearchQuery(const SearchControls& controls, SearchState& state) {
    readFilters(controls, state);
    composeQueryString(state);
}

void presetFilters(SearchState& state) {
    state.KeyWord.clear();
    state.KeyPos = kKeyPos[0].toString();
    state.MinLen = QStringLiteral("0");
    state.MaxLen = QStringLiteral("0");
    state.CharKind = kCharKind[0].toString();
    state.SortKey = kSortKey[4].toString();
    state.SuffixPart.clear();
    for (QStringView pair : kSuffixPairs) state.SuffixPart += pair;
}

} // namespace yuming
