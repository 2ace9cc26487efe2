#pragma once
// A fresh folder under the system's temporary folder, removed with everything in it afterwards.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "platform/tests/temp_folder.h"

namespace torvo::sync::testing {

class TempFolder {
 public:
  TempFolder() : path_(torvo::testing::MakeTempFolder("torvo-sync-test-")) {}
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every entry name in the folder, hidden ones included.
inline std::set<std::string> Entries(const std::filesystem::path& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    names.insert(it->path().filename().string());
  return names;
}

}  // namespace torvo::sync::testing
