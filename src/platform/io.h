#pragma once
// The system calls the core makes on descriptors, libraries, the locale and the
// process, so that the core names none itself. POSIX on macOS and Linux alike
// (posix/io.cpp).

#include <cstddef>
#include <span>

namespace kel {

inline constexpr int standardInput = 0;
inline constexpr int standardOutput = 1;

// Writes every byte to fd, however the kernel splits the writes. An interrupted
// write is retried and a full non-blocking descriptor waited for, so neither cuts
// what is written. False on any other error, with the rest unwritten.
bool writeAll(int fd, std::span<const char> bytes);

// Reads what fd has, up to space's size, waiting as long as it takes: an
// interrupted read is retried, and a non-blocking descriptor with nothing yet
// (which is not its end) waited for. The count read; 0 at the end; -1 on error.
std::ptrdiff_t readSome(int fd, std::span<char> space);

// Ends the process at once with status: no destructors, no exit handlers, no
// flushing but what the caller did.
[[noreturn]] void exitNow(int status);

// strtod in the "C" locale, made once, so that "." is the decimal separator
// whatever locale the host has set.
double readDecimalInCLocale(const char* text);

// Keeps the calling thread for good, asleep (signal handlers still run).
[[noreturn]] void blockForever();

// The library at path, kept open for good, or null; a symbol of it, or null.
void* openLibrary(const char* path);
void* findSymbol(void* library, const char* name);

}  // namespace kel
