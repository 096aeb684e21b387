#include "catalog/catalog_store.h"

#include "catalog/catalog_builder.h"
#include "catalog/catalog_format.h"
#include "store/shown_dates.h"

#include "protocol/moment.h"

#include <cstring>
#include <utility>

namespace yuming::service {

namespace {

ReadResult<std::shared_ptr<const Catalog>> finished(CatalogBuilder& builder, const std::string& error) {
    if (!error.empty()) return {nullptr, error};
    std::string damaged;
    auto catalog = Catalog::fromImage(builder.finish(), damaged);
    if (!catalog) return {nullptr, damaged};
    return {std::move(catalog), {}};
}

ListedUse into(CatalogBuilder& builder) {
    return [&builder](std::string_view name, Suffix suffix, std::string_view deletion) {
        builder.add(name, suffix, deletion);
    };
}

// Moves every deletion time of a stored image by `days` where it lies, each text keeping its
// length, and gives the earliest as moved; false when the image holds none or is not laid out as
// one (it is then built afresh).
bool moveDeletionDays(CatalogImage& image, int days, std::string& first) {
    using namespace catalog_format;
    Header header;
    if (image.size() < sizeof header) return false;
    std::memcpy(&header, image.data(), sizeof header);
    if (std::memcmp(header.magic, kMagic, sizeof kMagic) != 0 || header.version != kVersion ||
        header.rows > UINT32_MAX || header.deletions > header.rows || header.nameBytes > image.size() ||
        header.deletionBytes > image.size() || header.pairBytes > image.size() ||
        header.tripleBytes > image.size() || header.deletions == 0)
        return false;
    const Layout l = layoutFor(header.rows, header.deletions, header.nameBytes, header.deletionBytes,
                               header.pairBytes, header.tripleBytes);
    if (l.total > image.size()) return false;
    const auto* offsets = at<std::uint32_t>(image, l.deletionOffsets);
    char* texts = image.data() + l.deletionTexts;
    DayMover mover(days);
    for (std::uint32_t d = 0; d < header.deletions; ++d) {
        const std::uint32_t from = offsets[d], to = offsets[d + 1];
        if (to < from || to > header.deletionBytes) return false;
        const std::string_view text(texts + from, to - from);
        const std::string_view moved = mover(text);
        if (moved.size() != text.size() || moved == text) return false;
        std::memcpy(texts + from, moved.data(), moved.size());
        if (d == 0) first = moved;
    }
    return true;
}

} // namespace

ReadResult<std::shared_ptr<const Catalog>> builtCatalogue(Store& store, const QDateTime& now) {
    CatalogBuilder builder;
    const std::string error = store.eachListed(now, into(builder));
    return finished(builder, error);
}

ReadResult<StoredCatalogue> storedCatalogue(Store& store, const QDateTime& now) {
    CatalogImage image;
    const auto stored = store.storedImage(now, [&image](std::size_t bytes) {
        image = CatalogImage(bytes);
        return image.data();
    });
    ReadResult<StoredCatalogue> result{{nullptr, stored.value.generation, stored.value.note}, stored.error};
    if (!stored.ok() || !stored.value.fits) return result;
    if (stored.value.moveDays != 0) {
        // The index holds the names from the moment it was made on; moved, that moment may come
        // after now, and the names between are not in it.
        std::string first;
        if (!moveDeletionDays(image, stored.value.moveDays, first)) {
            result.value.note = "the search index's dates cannot be moved";
            return result;
        }
        const auto missing = store.shownGeneratedIn(Moment::of(now).text(), first);
        if (!missing.ok()) return {{}, missing.error};
        if (missing.value) {
            result.value.note = "names came back on the list since the search index was stored";
            return result;
        }
        result.value.moved = true;
    }
    auto catalog = Catalog::fromImage(std::move(image), result.value.note);
    if (catalog) result.value.catalog = catalog->since(Moment::of(now).text());
    return result;
}

bool saveCatalogue(sqlite3* db, const QDateTime& now, std::string& error) {
    const auto generation = namesGeneration(db);
    if (!generation.ok()) {
        error = generation.error;
        return false;
    }
    CatalogBuilder builder;
    auto built = finished(builder, eachListed(db, now, into(builder)));
    if (!built.ok()) {
        error = built.error;
        return false;
    }
    return storeCatalogueImage(db, built.value->image(), generation.value, now.date(), error);
}

} // namespace yuming::service
