#pragma once
// A zip archive written as it goes (files stored as they are: PNGs gain nothing from deflate),
// so an album of any size costs the memory of one file and the directory. Past 65,535 files or
// 4 GiB the archive takes the zip64 end records.
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace torvo::service {

uint32_t Crc32(std::string_view bytes);

class ZipWriter {
 public:
  // sink takes the archive's bytes in order; false stops the writing.
  explicit ZipWriter(std::function<bool(std::string_view)> sink);
  // name is UTF-8, "/" between folders; modified is shown in local time.
  bool Add(std::string_view name, std::string_view bytes, std::time_t modified);
  // Writes the directory; nothing may be added after it.
  bool Finish();

 private:
  bool Write(std::string_view bytes);

  std::function<bool(std::string_view)> sink_;
  std::string directory_;
  uint64_t offset_ = 0;
  uint64_t count_ = 0;
  bool ok_ = true;
};

}  // namespace torvo::service
