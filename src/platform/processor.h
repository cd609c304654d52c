#pragma once
// What the OS itself says about the processor's features, where CPUID and XCR0
// alone do not tell what a thread may use.

#include <optional>

#include "output/x86_features.h"

namespace kel {

// The AVX-512 features the OS reports, or nothing where XCR0 tells (Linux).
// Any thread; called once, as the library loads.
std::optional<OsAvx512> osAvx512Support();

}  // namespace kel
