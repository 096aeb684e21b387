#include "import/drop_list.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

struct Unseen : yuming::service::ListObserver {
    void skipped(const yuming::service::SkippedLine&) override {}
    void read(std::uint64_t) override {}
};

} // namespace

// Any bytes as a list file, plain, gzip or zip (feeds bring files from anywhere): reading must
// neither crash nor read out of bounds, and every name kept must be one the service can store.
// The first byte says how a/b/yyyy dates are read.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace yuming::service;
    static const int memory = memfd_create("list", 0);
    if (memory < 0 || size == 0) return 0;
    const auto order = static_cast<DateOrder>(data[0] % 3);
    if (ftruncate(memory, 0) != 0 || pwrite(memory, data + 1, size - 1, 0) != static_cast<ssize_t>(size - 1))
        return 0;
    const ListFile file("/proc/self/fd/" + std::to_string(memory));
    if (!file.isOpen()) return 0;
    ImportedNames names;
    ZoneClock clock(QTimeZone::utc());
    SkipCounts skipped{};
    Unseen observer;
    readDropList(file, names, clock, {QDate(2026, 12, 9), std::nullopt, order}, skipped, observer);
    names.sort();
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto label = names.label(names[i]);
        if (label.empty() || label.size() > 63) __builtin_trap();
    }
    return 0;
}
