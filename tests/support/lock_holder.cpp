// Holds this user's service lock as a running service would: lock_holder LOCK_PATH. Prints
// "locked" once it holds it and keeps it until stdin closes. The lock must be another process's:
// a process never sees its own lock as held.
#include "service_record.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2 || yuming::user_service::takeLock(QString::fromLocal8Bit(argv[1])) < 0) return 1;
    std::puts("locked");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}
