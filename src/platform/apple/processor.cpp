#include "platform/processor.h"

#include <sys/sysctl.h>

// Only the x86-64 slice asks.
#if defined(__x86_64__)

namespace kel {
namespace {

bool sysctlFlag(const char* name) {
  int value = 0;
  std::size_t size = sizeof value;
  return sysctlbyname(name, &value, &size, nullptr, 0) == 0 && value != 0;
}

}  // namespace

// Any thread. macOS gives a thread AVX-512 state at its first AVX-512 instruction
// (so XCR0 does not show it before); these report what the processor has and the
// system supports. Absent names (on Apple silicon) read as false.
std::optional<OsAvx512> osAvx512Support() {
  return OsAvx512{sysctlFlag("hw.optional.avx512f"), sysctlFlag("hw.optional.avx512bw"),
                  sysctlFlag("hw.optional.avx512vl"), sysctlFlag("hw.optional.avx512vbmi"),
                  sysctlFlag("hw.optional.avx512vbmi2")};
}

}  // namespace kel

#endif  // __x86_64__
