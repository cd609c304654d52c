#include "host.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "service/service.h"

namespace kel::host {

namespace {

// The path with "." and ".." folded away, and no separator at its end.
std::string normalized(const std::filesystem::path& path) {
  std::filesystem::path folded = path.lexically_normal();
  if (!folded.has_filename() && folded.has_relative_path()) folded = folded.parent_path();
  return folded.string();
}

}  // namespace

bool isServicePath(std::string_view path) {
  std::size_t slash = path.rfind('/');
  return path.substr(slash == std::string_view::npos ? 0 : slash + 1) == linuxServiceFile;
}

// Linux only, like the compiled hosts: macOS runs the Perl host.
std::string executableDirectory() {
  std::error_code error;
  auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : path.parent_path().string();
}

std::string libraryDirectory() {
  return normalized(std::filesystem::path(executableDirectory()) / KEL_LIBRARY_DIR);
}

std::string findBeside(std::string_view name) {
  for (const auto& dir : {normalized(executableDirectory()), libraryDirectory()}) {
    std::error_code error;
    std::filesystem::path candidate = std::filesystem::path(dir) / name;
    if (std::filesystem::exists(candidate, error)) return candidate.string();
  }
  return {};
}

std::string searchedFolders() {
  std::string beside = normalized(executableDirectory());
  std::string installed = libraryDirectory();
  return installed == beside ? beside : beside + " or " + installed;
}

void closeInput(std::string_view program) {
  int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null < 0 || dup2(null, STDIN_FILENO) < 0) {
    std::fprintf(stderr, "%.*s: --once: cannot open /dev/null as standard input\n", int(program.size()),
                 program.data());
    std::exit(exitCannotLoad);
  }
  if (null != STDIN_FILENO) close(null);
}

void runBridge(std::string_view program, const std::string& libraryPath) {
  std::string path = libraryPath.empty() ? findBeside(KEL_LIBRARY_FILE) : libraryPath;
  if (path.empty()) {
    std::fprintf(stderr, "%.*s: cannot find %s in %s; name it with --library PATH\n", int(program.size()),
                 program.data(), KEL_LIBRARY_FILE, searchedFolders().c_str());
    std::exit(exitCannotLoad);
  }
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "%.*s: cannot load the library: %s\n", int(program.size()), program.data(), dlerror());
    std::exit(exitCannotLoad);
  }
  auto run = reinterpret_cast<void (*)()>(dlsym(library, "kel_mediaremote_run"));
  if (run == nullptr) {
    std::fprintf(stderr, "%.*s: %s has no kel_mediaremote_run\n", int(program.size()), program.data(), path.c_str());
    std::exit(exitCannotLoad);
  }
  run();
  std::exit(0);  // Not reached: the entry never returns.
}
void answerHelpOrVersion(std::string_view program, std::string_view arg, const char* help) {
  if (arg == "--help" || arg == "-h") {
    std::fputs(help, stdout);
  } else if (arg == "--version") {
    std::printf("%.*s %s\n", int(program.size()), program.data(), KEL_VERSION);
  } else {
    return;
  }
  std::exit(0);
}

bool takeValue(std::string_view program, int argc, char** argv, int& i, std::string_view name,
               std::string& value) {
  std::string_view arg = argv[i];
  if (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=') {
    value = arg.substr(name.size() + 1);
    return true;
  }
  if (arg != name) return false;
  if (i + 1 >= argc) usageError(program, std::string(name) + " needs a value");
  value = argv[++i];
  return true;
}

void usageError(std::string_view program, std::string_view message) {
  std::fprintf(stderr, "%.*s: %.*s\nTry '%.*s --help'.\n", int(program.size()), program.data(),
               int(message.size()), message.data(), int(program.size()), program.data());
  std::exit(exitUsage);
}

}  // namespace kel::host
