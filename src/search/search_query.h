#pragma once

#include <QString>
#include <QStringView>

#include <array>

namespace yuming {

// What the filter controls of the window hold, as the window reads them. Defaults are the
// controls' state when the window opens.
struct SearchControls {
    QString Text1;                                  // keyword
    int Option1 = 0;                                // keyword position: any, left, right, left or right
    QString Text2 = QStringLiteral("0");            // shortest total length
    QString Text3 = QStringLiteral("0");            // longest total length
    int Option2 = 0;                                // structure: any, letters, digits
    int Option3 = 4;                                // sort: time, letters, suffix, length, date and length
    std::array<bool, 3> Check1{true, true, false};  // com, net, org
};

// The search as the window keeps it between requests. All values are texts; PageNo and
// PageCount are empty until the first search.
struct SearchState {
    QString KeyWord, KeyPos, MinLen, MaxLen, CharKind, SortKey, SuffixPart;
    QString PageNo, PageCount, QueryString;
};

// Reads the seven filter values from the controls.
void readFilters(const SearchControls& controls, SearchState& state);
// QueryString from the seven filter values and PageNo as they stand.
void composeQueryString(SearchState& state);
// Both of the above: what a new search and the paging commands do once PageNo is set.
void buildSearchQuery(const SearchControls& controls, SearchState& state);
// The fixed filters of the preset search of all domains about to expire (reads no control).
void presetFilters(SearchState& state);

} // namespace yuming
