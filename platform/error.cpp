#include "platform/error.h"

#include "platform/executable.h"
#include "platform/paths.h"

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
    const std::filesystem::path path = ExecutablePath();
    return path.empty() ? std::string("Torvo") : Utf8Path(path.stem());
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
