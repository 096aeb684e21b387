#include "search/kept_list.h"

namespace yuming {

void KeptList::lookupReplaces(ListSnapshot shown) {
    // Before the first search the list is empty and there is nothing to come back to.
    if (!shown.holdsASearch()) return m_kept.reset();
    m_kept = std::move(shown);
}

std::optional<ListSnapshot> KeptList::takeBack() {
    return std::exchange(m_kept, std::nullopt);
}

} // namespace yuming
