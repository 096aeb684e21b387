#pragma once

namespace yuming::cli {

// Ctrl+C during a run of many requests: noted, and acted on when the request in flight ends.
void stopAfterTheCurrentRequest();
bool interrupted();

inline constexpr int kInterruptedExit = 130;

} // namespace yuming::cli
