#include "platform/error.h"

#include <unistd.h>

#include <climits>
#include <filesystem>

namespace torvo {

TorvoError::TorvoError(int32_t number, std::string source, std::string description)
    : std::runtime_error(description),
      number_(number),
      source_(std::move(source)),
      description_(std::move(description)) {}

TorvoError TorvoError::WithSource(std::string source) const {
  return TorvoError(number_, std::move(source), description_);
}

namespace {
std::string& ProgramNameStorage() {
  static std::string name = [] {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return std::string("Torvo");
    path[n] = '\0';
    return std::filesystem::path(path).stem().string();
  }();
  return name;
}
}  // namespace

const std::string& ProgramName() { return ProgramNameStorage(); }
void SetProgramName(std::string name) { ProgramNameStorage() = std::move(name); }

std::string RuntimeErrorText(int32_t number) {
  switch (number) {
    case kErrOverflow: return "Overflow";
    case kErrSubscriptOutOfRange: return "Subscript out of range";
    case kErrDivisionByZero: return "Division by zero";
    case kErrTypeMismatch: return "Type mismatch";
    case kErrFileNotFound: return "File not found";
    default: return "Application-defined or object-defined error";
  }
}

void RaiseRuntimeError(int32_t number) {
  throw TorvoError(number, ProgramName(), RuntimeErrorText(number));
}

}  // namespace torvo
