#pragma once
// File names between the programs' UTF-8 text and std::filesystem: a path made from a plain
// std::string reads it in the system's ANSI code page on Windows, so names cross here instead.
#include <filesystem>
#include <string>
#include <string_view>

namespace torvo {

inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8Path(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace torvo
