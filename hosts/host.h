#pragma once
// What both hosts share: finding and loading the bridge library, and its options.

#include <string>
#include <string_view>

namespace kel::host {

// Whether path names the service library the bridge opens (its file name, in
// any folder): how a test host recognises the bridge's open of it.
bool isServicePath(std::string_view path);

// Exit statuses of the hosts themselves, apart from the library's 0 and 2.
inline constexpr int exitCannotLoad = 1;
inline constexpr int exitUsage = 64;

// The folder that holds the running executable.
std::string executableDirectory();

// The folder of an installed tree that holds the libraries: the executable's
// folder followed by KEL_LIBRARY_DIR, the relative path from the install's binary
// folder to its library folder (in the build tree both are the same folder).
std::string libraryDirectory();

// The first of the candidates that exists: name beside the executable, then in
// libraryDirectory(); empty when neither does.
std::string findBeside(std::string_view name);

// For "cannot find": the folders findBeside looked in, as "DIR or DIR".
std::string searchedFolders();

// For --once: standard input becomes /dev/null, so that the bridge reads its end
// at once and finishes through its own end-of-input path. Exits with
// exitCannotLoad when /dev/null cannot be opened.
void closeInput(std::string_view program);

// Loads the library (libraryPath, or the installed one found beside the host) and
// calls kel_mediaremote_run, which never returns. When the library cannot be loaded
// or lacks the entry, says why on standard error and exits with exitCannotLoad.
[[noreturn]] void runBridge(std::string_view program, const std::string& libraryPath);

// Answers "--help" (or "-h") with help and "--version" with the version, and exits
// with status 0; returns when arg is neither.
void answerHelpOrVersion(std::string_view program, std::string_view arg, const char* help);

// When argv[i] is the option name, as "NAME VALUE" or "NAME=VALUE", stores its
// value, moves i past it and returns true; a missing value is a usage error.
bool takeValue(std::string_view program, int argc, char** argv, int& i, std::string_view name,
               std::string& value);

// Writes "program: message" and a hint to standard error and exits with exitUsage.
[[noreturn]] void usageError(std::string_view program, std::string_view message);

}  // namespace kel::host
