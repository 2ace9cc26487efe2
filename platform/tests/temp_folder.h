#pragma once
// Tests' fresh folders under the system's temporary folder, on every system.
#include <atomic>
#include <filesystem>
#include <random>
#include <string>

#include "platform/file_system.h"

namespace torvo::testing {

// A new, empty folder whose name begins with prefix; nobody else's, as create_directory makes it.
inline std::filesystem::path MakeTempFolder(const std::string& prefix) {
  static std::atomic<unsigned> counter{0};
  static const unsigned salt = std::random_device{}();
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (;;) {
    std::filesystem::path folder = base / (prefix + std::to_string(CurrentProcessId()) + "-" + std::to_string(salt) +
                                           "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(folder)) return folder;
  }
}

}  // namespace torvo::testing
