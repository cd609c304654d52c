#include "platform/processor.h"

namespace kel {

// Linux sets XCR0's AVX-512 state for every process at once, so CPUID and XCR0 tell.
std::optional<OsAvx512> osAvx512Support() {
  return std::nullopt;
}

}  // namespace kel
