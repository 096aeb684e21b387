#pragma once

#include "protocol/search_page.h"
#include "search/search_state.h"

#include <QList>
#include <QString>

#include <optional>

namespace yuming {

// The result list as it stood when a lookup took its place: its rows, what the user had selected
// and scrolled to, the captions under it and the search's paging, so the list comes back without
// asking the service again.
struct ListSnapshot {
    QList<ResultRow> rows;
    QList<int> selected;  // rows by their place in the list
    int current = -1;     // the row the keyboard is on, or -1
    int scrolledDown = 0; // the scroll bars' values
    int scrolledRight = 0;
    QString status;      // the status line
    QString pageCaption; // total and current page
    SearchState paging;  // what previous, next and the page box go by

    // A search has filled or at least answered the list: something to go back to.
    bool holdsASearch() const { return !rows.isEmpty() || paging.searched(); }
};

// Keeps the list aside while a lookup's result shows in its place, until the user goes back to
// it or a new search replaces it.
class KeptList {
public:
    // A lookup is taking the place of the list shown.
    void lookupReplaces(ListSnapshot shown);
    // A new search fills the list: the kept one is of no more use.
    void searchStarted() { m_kept.reset(); }

    bool canGoBack() const { return m_kept.has_value(); }
    // The list to show again; it is no longer kept.
    std::optional<ListSnapshot> takeBack();

private:
    std::optional<ListSnapshot> m_kept;
};

} // namespace yuming
