#pragma once

#include <QTimeZone>

#include "catalog/catalog.h"
#include "registry/lookup_outcome.h"
#include "store/store.h"

#include <optional>
#include <string>
#include <string_view>

namespace yuming::service {

// Every page the service sends, as GBK bytes. Each ends with the closing html tag and nothing
// after it: the tool knows an answer is complete when it has seen that tag.

inline constexpr int kPageSize = 50;

std::string searchPage(const Catalog& catalog, const Catalog::Page& page, std::int64_t pageNo);
// `domain` is echoed as the user sent it (raw bytes, escaped for the page).
// `registration` in UTF-8; `note`, if any, is shown under it.
std::string lookupPage(std::string_view domain, const std::optional<Registration>& registration,
                       std::string_view note = {});
// The lookup page for what the registries said about `domain` (Registered or NotRegistered). A
// kept answer used because the registry could not be asked says how old it is.
std::string registryLookupPage(std::string_view domain, const LookupOutcome& outcome);
// The lookup page of a name the database holds, when its registry could not be reached
// (`unreached`) or gave no usable answer: the deletion time says the dates are the local list's.
std::string localLookupPage(std::string_view domain, Registration registration, bool unreached);
// `sample`: the names are sample data (store/sample_mark.h), and the pages say so.
// `refresh`: when an import or a feed last changed the list, said under the count.
// `zone`: the one the refresh time is shown in (invalid: the system's).
std::string bannerPage(std::size_t listedCount, bool sample = false, const ListRefresh* refresh = nullptr,
                       const QTimeZone& zone = {});
std::string homePage(std::size_t listedCount, bool sample = false);
std::string errorPage(int status, std::string_view message);

// How long ago the registry was asked, for the lookup page (UTF-8): minutes under an hour,
// hours under two days, days after that.
std::string ageText(std::int64_t seconds);

} // namespace yuming::service
