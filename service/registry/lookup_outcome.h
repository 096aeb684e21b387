#pragma once

#include "registry/registry_estimate.h"

#include <QDateTime>

#include <cstdint>
#include <optional>
#include <string>

namespace yuming::service {

// What the registries say about a name, for the lookup page to show.
struct LookupOutcome {
    enum class Kind {
        Registered,    // with the deletion estimate below
        NotRegistered, // the registry does not know the name, or it cannot be registered
        Unavailable,   // no usable answer: `reason` says why
    };
    Kind kind = Kind::Unavailable;
    // Registered: the registry's expiration (invalid when it gave none) and the estimate.
    QDateTime expiry;
    QDateTime deletion;
    DeletionBasis basis = DeletionBasis::Active;
    // Seconds since the registry was asked, when the answer is a kept one used because the
    // registry could not be asked again; none for a fresh answer.
    std::optional<std::int64_t> staleFor;
    std::string reason;
    // Unavailable: the registry could not be reached at all (rather than answering unusably).
    bool unreached = false;
    // The kept answer, given because the registry gave none this time.
    bool kept = false;

    static LookupOutcome notRegistered(std::optional<std::int64_t> staleFor = std::nullopt) {
        LookupOutcome outcome;
        outcome.kind = Kind::NotRegistered;
        outcome.staleFor = staleFor;
        return outcome;
    }
    static LookupOutcome unavailable(std::string reason, bool unreached = false) {
        LookupOutcome outcome;
        outcome.reason = std::move(reason);
        outcome.unreached = unreached;
        return outcome;
    }
};

} // namespace yuming::service
