#include "catalog/catalog_store.h"

#include "catalog/catalog_builder.h"

#include "protocol/moment.h"

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
