#pragma once

namespace yuming::headers {

// While the service's names are sample data (generated, not a real drop list), its search answers
// carry this header with the value "1". The tool's pages never depend on it.
inline constexpr char kSample[] = "X-Yuming-Sample";
inline constexpr char kSampleValue[] = "1";

} // namespace yuming::headers
