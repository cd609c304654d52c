#include "platform/io.h"

#include <dlfcn.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#if defined(__APPLE__)
#include <xlocale.h>
#endif

namespace kel {

bool writeAll(int fd, std::span<const char> bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written >= 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(written));
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd writable{fd, POLLOUT, 0};
      ::poll(&writable, 1, -1);  // Interrupted or not, the write is tried again.
    } else if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

std::ptrdiff_t readSome(int fd, std::span<char> space) {
  for (;;) {
    ssize_t count = ::read(fd, space.data(), space.size());
    if (count >= 0) return count;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // A host may hand over a non-blocking standard input: no data yet is not its
      // end, so wait, without a deadline, until there is something to read.
      pollfd readable{fd, POLLIN, 0};
      ::poll(&readable, 1, -1);
    } else if (errno != EINTR) {
      return -1;
    }
  }
}

void exitNow(int status) {
  _exit(status);
}

void blockForever() {
  for (;;) pause();
}

double readDecimalInCLocale(const char* text) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return strtod_l(text, nullptr, cLocale);
}

void* openLibrary(const char* path) {
  return dlopen(path, RTLD_LAZY);
}

void* findSymbol(void* library, const char* name) {
  return dlsym(library, name);
}

}  // namespace kel
