#pragma once

#include <string>

namespace yuming::service {

// What a read of the database gave: the value, or why the file could not be read. A read that
// failed is never an empty answer; `error` is empty exactly when the read succeeded.
template <typename T> struct ReadResult {
    T value{};
    std::string error;
    // SQLite's result code of the failure, when SQLite gave one (see isBusy in sqlite_util.h).
    int code = 0;
    bool ok() const { return error.empty(); }
};

} // namespace yuming::service
