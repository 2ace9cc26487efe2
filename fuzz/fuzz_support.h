#pragma once
// Helpers shared by the fuzz targets: turning the fuzzer's bytes into the text the programs see,
// checks that stop the run with a message, and a scratch file for readers that take a path.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/codepage.h"

namespace torvo::fuzz {

// A broken expectation is a finding: say which, then abort so the fuzzer keeps the input.
#define TORVO_FUZZ_CHECK(condition, what)                                                  \
  do {                                                                                     \
    if (!(condition)) {                                                                    \
      std::fprintf(stderr, "fuzz check failed at %s:%d: %s\n", __FILE__, __LINE__, what); \
      std::abort();                                                                        \
    }                                                                                      \
  } while (0)

inline std::string_view Bytes(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Text as the programs receive it. The first byte chooses the road: even, the rest is UTF-8 as
// on a command line (every character but a lone surrogate); odd, the rest is raw UTF-16LE code
// units as a text box may hold them, lone surrogates included.
inline std::u16string Text(const uint8_t* data, size_t size) {
  if (size == 0) return {};
  std::string_view rest = Bytes(data + 1, size - 1);
  if ((data[0] & 1) == 0) return FromUtf8(rest);
  std::u16string text;
  text.reserve(rest.size() / 2);
  for (size_t i = 0; i + 1 < rest.size(); i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<uint8_t>(rest[i]) | static_cast<uint8_t>(rest[i + 1]) << 8));
  }
  return text;
}

// A request target as the programs send it: no space, control byte or byte at or above 0x80.
inline bool IsCleanRequestTarget(std::string_view target) {
  for (unsigned char c : target) {
    if (c <= 0x20 || c == 0x7F || c >= 0x80) return false;
  }
  return true;
}

// One file per process, rewritten for every input, for readers that only take a path. It is
// unlinked at once and reached through /proc, so a killed run leaves nothing behind.
class ScratchFile {
 public:
  ScratchFile() {
    const char* folder = std::getenv("TMPDIR");
    std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/torvo-fuzz-XXXXXX";
    fd_ = mkstemp(pattern.data());
    TORVO_FUZZ_CHECK(fd_ >= 0, "cannot make a scratch file");
    unlink(pattern.c_str());
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~ScratchFile() { close(fd_); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::filesystem::path& Write(std::string_view bytes) {
    TORVO_FUZZ_CHECK(ftruncate(fd_, 0) == 0, "cannot empty the scratch file");
    size_t written = 0;
    while (written < bytes.size()) {
      ssize_t n = pwrite(fd_, bytes.data() + written, bytes.size() - written, static_cast<off_t>(written));
      TORVO_FUZZ_CHECK(n > 0, "cannot write the scratch file");
      written += static_cast<size_t>(n);
    }
    return path_;
  }

 private:
  int fd_ = -1;
  std::filesystem::path path_;
};

}  // namespace torvo::fuzz
