#include "platform/file_system.h"

#include <windows.h>

#include <algorithm>

#include "platform/codepage.h"
#include "platform/win32/system_message.h"

namespace torvo {

std::optional<std::string> CreateNewFile(const std::filesystem::path& file, std::string_view bytes, bool* existed) {
  *existed = false;
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    *existed = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    return win32::FileErrorText(error);
  }
  for (size_t written = 0; written < bytes.size();) {
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(bytes.size() - written, 1u << 30));
    DWORD n = 0;
    if (!WriteFile(h, bytes.data() + written, piece, &n, nullptr)) {
      const DWORD error = GetLastError();
      CloseHandle(h);
      return win32::FileErrorText(error);
    }
    written += n;
  }
  // The data reaches the disk's cache here; a full disk shows on the write or the close.
  if (!CloseHandle(h)) return win32::FileErrorText(GetLastError());
  return std::nullopt;
}

// Windows names a file as it makes it: the callers write through a temporary name.
WholeFile CreateWholeFile(const std::filesystem::path&, std::string_view, std::string*) {
  return WholeFile::kNotOffered;
}

std::optional<std::string> RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return win32::FileErrorText(GetLastError());
  return std::nullopt;
}

std::filesystem::path StoredSpelling(const std::filesystem::path& existing) {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW(existing.c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return existing;
  FindClose(h);
  return existing.parent_path() / found.cFileName;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(GetCurrentProcessId()); }

std::vector<FolderEntry> ListFolder(const std::filesystem::path& folder) {
  std::vector<FolderEntry> entries;
  WIN32_FIND_DATAW found{};
  HANDLE h = FindFirstFileExW((folder / L"*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                              FIND_FIRST_EX_LARGE_FETCH);
  if (h == INVALID_HANDLE_VALUE) return entries;
  do {
    const std::u16string_view name(reinterpret_cast<const char16_t*>(found.cFileName));
    if (name == u"." || name == u"..") continue;
    entries.push_back({ToUtf8(name), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(h, &found));
  FindClose(h);
  return entries;
}

}  // namespace torvo
