#pragma once

#include "catalog/catalog.h"
#include "store/store.h"

#include <cstdint>
#include <vector>

namespace yuming::service {

// What lookups taught a catalogue since its image was built, as laid over it.
struct LearnedRows {
    // One a name, the last word on it, in the order learned.
    std::vector<LearnedName> learned;
    // The learned names on the list; row ids on from the image's last.
    std::vector<ListedName> added;
    // The image's rows under a learned name, which the learned word replaces.
    std::vector<std::uint32_t> replaced;
};

std::vector<LearnedName> learnedNames(const LearnedRows& rows);

} // namespace yuming::service
