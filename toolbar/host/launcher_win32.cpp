// Finding TorvoTool.exe and starting it on Windows: CreateProcessW with one command line, no
// console, out of the browser's job where the job allows it, inheriting nothing but the picture.
#include "toolbar/host/launcher.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <vector>

#include "platform/codepage.h"
#include "platform/executable.h"
#include "platform/paths.h"
#include "platform/picture_handover.h"
#include "platform/win32/system_message.h"

namespace torvo::toolbar {

namespace {

constexpr wchar_t kProgramName[] = L"TorvoTool.exe";
// CreateProcessW's bound on the whole command line, its terminating NUL included.
constexpr size_t kMaxCommandLine = 32767;

std::wstring Wide(std::string_view utf8) {
  std::u16string text = FromUtf8(utf8);
  return std::wstring(text.begin(), text.end());
}

std::wstring WideAscii(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

bool IsFile(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

// The environment variable as the program's own text (the variables are wide on Windows).
std::wstring Variable(const wchar_t* name) {
  DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  DWORD n = GetEnvironmentVariableW(name, value.data(), size);
  value.resize(n < size ? n : 0);
  return value;
}

std::wstring CommandLineFor(const std::filesystem::path& program, const std::string& line) {
  // A Windows path cannot hold a quotation mark, so the quoted program is one token whatever
  // follows; after it and one space, the line goes as it is, quotes and backslashes included.
  return L"\"" + program.wstring() + L"\" " + Wide(line);
}

// The host's environment, without any picture variable it happened to have (names are matched
// without regard to case, as Windows does), and with the one this start sets.
std::vector<wchar_t> EnvironmentFor(const std::wstring& ownEntry) {
  const std::wstring prefix = WideAscii(kPictureHandleVariable) + L"=";
  std::vector<wchar_t> block;
  if (wchar_t* strings = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = strings; *entry; entry += std::wcslen(entry) + 1) {
      std::wstring_view text(entry);
      bool same = text.size() >= prefix.size();
      for (size_t i = 0; same && i < prefix.size(); ++i) same = std::towupper(text[i]) == std::towupper(prefix[i]);
      if (same) continue;
      block.insert(block.end(), text.begin(), text.end());
      block.push_back(L'\0');
    }
    FreeEnvironmentStringsW(strings);
  }
  if (!ownEntry.empty()) {
    block.insert(block.end(), ownEntry.begin(), ownEntry.end());
    block.push_back(L'\0');
  }
  if (block.empty()) block.push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  ~Handle() {
    if (handle_) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

std::optional<std::filesystem::path> FindTorvoTool() {
  if (std::wstring override = Variable(WideAscii(kTorvoToolVariable).c_str()); !override.empty()) {
    return std::filesystem::path(override);
  }
  std::filesystem::path beside = ExecutablePath().parent_path() / kProgramName;
  if (IsFile(beside)) return beside;
  std::wstring path = Variable(L"PATH");
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(L';', start);
    if (end == std::wstring::npos) end = path.size();
    std::wstring folder = path.substr(start, end - start);
    start = end + 1;
    if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"') folder = folder.substr(1, folder.size() - 2);
    if (folder.empty()) continue;  // an empty entry would mean the browser's working folder
    std::filesystem::path candidate = std::filesystem::path(folder) / kProgramName;
    if (IsFile(candidate)) return candidate;
  }
  return std::nullopt;
}

std::optional<Refusal> CheckLineFits(const std::filesystem::path& program, const std::string& line) {
  // Programs skip the spaces after their own token, as the C runtime does for WinMain: leading
  // spaces of the identity would not arrive.
  if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
    return Refusal{"separator", "The identity begins with a space, which would not reach TorvoTool on Windows; "
                                "enter it without one on the options page of the Torvo extension."};
  }
  size_t length = CommandLineFor(program, line).size();
  if (length < kMaxCommandLine) return std::nullopt;
  return Refusal{"too_long", "The page's fields make a command line of " + std::to_string(length) +
                                 " characters; Windows passes at most " + std::to_string(kMaxCommandLine - 1) +
                                 ". Select a shorter text."};
}

void* ReadOnlyPictureMapping(std::string_view bytes) {
  const uint64_t total = kPictureMappingHeaderBytes + bytes.size();
  // No name and the default security: the user's own token's default DACL, so no other user can
  // open it, and only a handle given out can reach it.
  Handle writable(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, DWORD(total >> 32),
                                     DWORD(total & 0xFFFFFFFFu), nullptr));
  if (!writable.get()) return nullptr;
  auto* view = static_cast<unsigned char*>(MapViewOfFile(writable.get(), FILE_MAP_WRITE, 0, 0, size_t(total)));
  if (!view) return nullptr;
  uint64_t count = bytes.size();
  for (size_t i = 0; i < kPictureMappingHeaderBytes; ++i) view[i] = static_cast<unsigned char>(count >> (8 * i));
  std::memcpy(view + kPictureMappingHeaderBytes, bytes.data(), bytes.size());
  UnmapViewOfFile(view);
  HANDLE readOnly = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), writable.get(), GetCurrentProcess(), &readOnly, FILE_MAP_READ, TRUE, 0)) {
    return nullptr;
  }
  return readOnly;  // the writable handle closes here
}

std::string StartDetached(const std::filesystem::path& program, const std::string& line, std::string_view picture) {
  Handle mapping(picture.empty() ? nullptr : ReadOnlyPictureMapping(picture));
  if (!picture.empty() && !mapping.get()) {
    return "the picture could not be handed over: " + win32::SystemMessage(GetLastError());
  }
  std::wstring ownEntry;
  if (mapping.get()) {
    ownEntry = WideAscii(kPictureHandleVariable) + L"=" +
               std::to_wstring(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(mapping.get())));
  }
  std::vector<wchar_t> environment = EnvironmentFor(ownEntry);
  std::wstring commandLine = CommandLineFor(program, line);

  // Only the picture's handle is inherited, whatever else of the host's is inheritable (its
  // standard handles are the browser's pipes: a TorvoTool holding them would keep the browser
  // waiting for the host's end).
  SIZE_T attributeBytes = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeBytes);
  std::vector<unsigned char> attributeStorage(attributeBytes);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeStorage.data());
  if (!InitializeProcThreadAttributeList(attributes, 1, 0, &attributeBytes)) {
    return "no attribute list: " + win32::SystemMessage(GetLastError());
  }
  HANDLE inherited[] = {mapping.get()};
  if (mapping.get() &&
      !UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof inherited, nullptr, nullptr)) {
    DWORD error = GetLastError();
    DeleteProcThreadAttributeList(attributes);
    return "no handle list: " + win32::SystemMessage(error);
  }

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  // No standard handles at all rather than the browser's pipes.
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.lpAttributeList = attributes;
  // A GUI program needs no console; DETACHED_PROCESS also keeps it off the browser's, and a
  // process group of its own keeps it out of the console's Ctrl+C and Ctrl+Break.
  const DWORD flags = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT;
  PROCESS_INFORMATION process{};
  // Out of the browser's job, which ends its processes with the browser (or when the host's pipe
  // closes); a job that forbids breaking away refuses the start, and TorvoTool then runs in the
  // job after all, ended with the browser rather than not started.
  BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, mapping.get() ? TRUE : FALSE,
                                flags | CREATE_BREAKAWAY_FROM_JOB, environment.data(), nullptr, &startup.StartupInfo,
                                &process);
  DWORD error = started ? ERROR_SUCCESS : GetLastError();
  if (!started && error == ERROR_ACCESS_DENIED) {
    started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, mapping.get() ? TRUE : FALSE, flags,
                             environment.data(), nullptr, &startup.StartupInfo, &process);
    error = started ? ERROR_SUCCESS : GetLastError();
  }
  DeleteProcThreadAttributeList(attributes);
  if (!started) return Utf8Path(program) + ": " + win32::SystemMessage(error);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // TorvoTool holds its own handle now; the memory goes when it closes that.
  return {};
}

}  // namespace torvo::toolbar
