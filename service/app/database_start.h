#pragma once

#include "app/service_options.h"
#include "catalog/catalog_keeper.h"

#include <optional>

namespace yuming::service {

// "yuming-service check": the whole database checked, "ok" or what is wrong on stdout; the exit
// status.
int runCheck(const ServiceOptions& options);

// The database made ready to serve: checked (a damaged one is refused before anything is written
// to it), prepared and seeded when new, and its catalogue opened. Nothing when it cannot be
// served; stderr says why.
std::optional<OpenedCatalogue> openForServing(const ServiceOptions& options);

} // namespace yuming::service
