#pragma once
// The one error type of the system: a number, a source and a description, as the programs'
// run-time reports them. Imaging classes raise their own numbers (0x80040519, 0x8004051A);
// everything else uses the run-time numbers below.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace torvo {

enum RuntimeError : int32_t {
  kErrOverflow = 6,
  kErrSubscriptOutOfRange = 9,
  kErrDivisionByZero = 11,
  kErrTypeMismatch = 13,
  kErrFileNotFound = 53,
};

// A file that cannot be written or deleted, or a folder that cannot be made (a file that cannot
// be read is kErrFileNotFound); the description names it.
inline constexpr int32_t kErrPathFileAccess = 75;

class TorvoError : public std::runtime_error {
 public:
  TorvoError(int32_t number, std::string source, std::string description);

  int32_t number() const { return number_; }
  const std::string& source() const { return source_; }
  const std::string& description() const { return description_; }

  // The same error with another source, for classes that pass run-time errors on as their own.
  TorvoError WithSource(std::string source) const;

 private:
  int32_t number_;
  std::string source_;
  std::string description_;
};

// The running program's executable name without folder and extension ("TorvoTool").
const std::string& ProgramName();
// Tests and tools may name the program themselves.
void SetProgramName(std::string name);

// The standard text of a run-time error number ("Overflow", "Subscript out of range", ...).
std::string RuntimeErrorText(int32_t number);

// Raises a run-time error with the program's name as its source.
[[noreturn]] void RaiseRuntimeError(int32_t number);

}  // namespace torvo
