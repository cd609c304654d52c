#include <filesystem>

#include "host.h"

namespace kel::host {

std::string executableDirectory() {
  std::error_code error;
  auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : path.parent_path().string();
}

}  // namespace kel::host
