#include "cli/interrupt.h"

#include <csignal>

namespace yuming::cli {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void noteInterrupt(int) {
    g_interrupted = 1;
}

} // namespace

void stopAfterTheCurrentRequest() {
    struct sigaction action {};
    action.sa_handler = noteInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

bool interrupted() {
    return g_interrupted != 0;
}

} // namespace yuming::cli
