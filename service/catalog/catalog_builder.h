#pragma once

#include "catalog/catalog_format.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace yuming::service {

// Collects the names of a drop list and lays them out as a catalogue image: the names with every
// sort order and a keyword index worked out once, in one block of bytes that is stored with the
// database and read back at start without any sorting.
class CatalogBuilder {
public:
    void add(std::string_view name, Suffix suffix, std::string_view deletion);
    std::size_t size() const { return m_length.size(); }
    // The image; the builder is empty afterwards.
    CatalogImage finish();

private:
    struct Writer;

    std::string m_names;
    std::vector<std::uint32_t> m_offsets{0};
    std::vector<std::uint8_t> m_info;
    std::vector<std::uint8_t> m_length;
    // Each row's deletion time as a number that sorts as the text does (see Moment::pack); the
    // rare text of another form stands for its place in m_otherTimes.
    std::vector<std::uint64_t> m_deletion;
    std::unordered_map<std::string, std::uint64_t> m_otherTimeIds;
    std::vector<std::string> m_otherTimes;
};

} // namespace yuming::service
