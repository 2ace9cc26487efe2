// TorvoTool's end of the hand-over on Windows (platform/picture_handover.h): the PNG of the page
// in a file mapping the toolbar's host let TorvoTool inherit, read once at start and closed.
#include "platform/picture_handover.h"

#include <windows.h>

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/codepage.h"
#include "platform/win32/system_message.h"

namespace torvo {

namespace {

std::wstring WideAscii(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// The variable's value, or nothing when it is not set at all.
std::optional<std::string> TakeVariable() {
  const std::wstring name = WideAscii(kPictureHandleVariable);
  SetLastError(ERROR_SUCCESS);
  DWORD size = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (size == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
  std::wstring value(size, L'\0');
  DWORD n = size ? GetEnvironmentVariableW(name.c_str(), value.data(), size) : 0;
  value.resize(n < size ? n : 0);
  // Out of the C library's copy of the environment and the system's alike.
  _wputenv((name + L"=").c_str());
  SetEnvironmentVariableW(name.c_str(), nullptr);
  return ToUtf8(std::u16string(value.begin(), value.end()));
}

// Reads the PNG from a view of the whole mapping.
std::string ReadView(const unsigned char* view, PictureBytes& png) {
  MEMORY_BASIC_INFORMATION region{};
  if (VirtualQuery(view, &region, sizeof region) < sizeof region) return "그림을 끝까지 읽을 수 없습니다";
  const size_t available = region.RegionSize;
  if (available < kPictureMappingHeaderBytes) return "그림이 비어 있습니다";
  uint64_t count = 0;
  for (size_t i = 0; i < kPictureMappingHeaderBytes; ++i) count |= uint64_t(view[i]) << (8 * i);
  if (count == 0) return "그림이 비어 있습니다";
  if (count > kMaxHandedOverPictureBytes) return "그림이 64 MiB보다 큽니다";
  if (count > available - kPictureMappingHeaderBytes) return "그림을 끝까지 읽을 수 없습니다";
  png = std::string(reinterpret_cast<const char*>(view + kPictureMappingHeaderBytes), size_t(count));
  return {};
}

}  // namespace

HandedOverPicture TakeHandedOverPicture() {
  HandedOverPicture picture;
  std::optional<std::string> text = TakeVariable();
  if (!text) return picture;
  picture.handedOver = true;
  uint64_t value = 0;
  auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  // Handle values are multiples of four; 0 is none, and the pseudo handles are negative.
  if (error != std::errc() || end != text->data() + text->size() || text->empty() || value == 0 || value % 4 != 0 ||
      value > uint64_t(UINTPTR_MAX >> 1)) {
    picture.problem = "핸들 번호가 올바르지 않습니다";
    return picture;
  }
  HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
  // Only a mapping nobody can change while it is read: the host keeps no handle that could write
  // it, and the one given here must not be able to either.
  if (void* writable = MapViewOfFile(handle, FILE_MAP_WRITE, 0, 0, 0)) {
    UnmapViewOfFile(writable);
    CloseHandle(handle);
    picture.problem = "넘겨 받은 파일 매핑이 읽기 전용이 아닙니다";
    return picture;
  }
  auto* view = static_cast<const unsigned char*>(MapViewOfFile(handle, FILE_MAP_READ, 0, 0, 0));
  if (!view) {
    // Not a mapping: whatever else of this program's the number names is left as it is.
    picture.problem = "넘겨 받은 것이 파일 매핑이 아닙니다 (" + win32::SystemMessage(GetLastError()) + ")";
    return picture;
  }
  picture.problem = ReadView(view, picture.png);
  if (!picture.problem.empty()) picture.png.clear();
  UnmapViewOfFile(view);
  CloseHandle(handle);
  return picture;
}

}  // namespace torvo
