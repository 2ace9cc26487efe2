#pragma once
// The operations of torvo-image. Each lives in a table of its own name; a file of operations
// registers them with a static TORVO_IMAGE_OPERATION(...) and needs no other edit anywhere
// (CMake picks up every operations_*.cpp).
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/cDIBSection.h"
#include "imaging/cImageProcessDIB.h"

namespace torvo::image_tool {

// Bad arguments: the tool prints the message and the usage, and exits with status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A picture that cannot be read or written: a clear message, status 1.
class PictureError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One run of an operation: its arguments (between the operation's name and INPUT), the INPUT
// picture as a surface, and the processor whose events are printed.
class Invocation {
 public:
  Invocation(std::vector<std::string> arguments, cImageProcessDIB& processor)
      : arguments_(std::move(arguments)), processor_(processor) {}

  const std::vector<std::string>& arguments() const { return arguments_; }
  cImageProcessDIB& processor() { return processor_; }

  // Argument i as a signed 32-bit decimal integer, a single-precision number, a picture file.
  // Bad text raises UsageError naming the argument.
  int32_t Integer(size_t i) const;
  float Number(size_t i) const;
  std::unique_ptr<cDIBSection> Picture(size_t i) const;

  // The INPUT picture. The OUTPUT is this surface after the operation unless it sets another.
  cDIBSection& image() { return *image_; }
  void SetImage(std::unique_ptr<cDIBSection> image) { image_ = std::move(image); }
  void SetOutput(std::unique_ptr<cDIBSection> output) { output_ = std::move(output); }
  cDIBSection& output() { return output_ ? *output_ : *image_; }

 private:
  std::vector<std::string> arguments_;
  cImageProcessDIB& processor_;
  std::unique_ptr<cDIBSection> image_;
  std::unique_ptr<cDIBSection> output_;
};

struct Operation {
  std::string name;        // "filter"
  std::string arguments;   // "N", for the usage text
  std::string summary;     // one line for the usage text
  // Checks the arguments before any picture is read; raises UsageError. May be empty.
  std::function<void(const Invocation&)> check;
  // Runs on the loaded INPUT. Errors of the library pass through as TorvoError.
  std::function<void(Invocation&)> run;
  // "-" as OUTPUT writes no picture (for operations whose result goes elsewhere).
  bool outputOptional = false;
};

// All registered operations, ordered by name.
const std::vector<Operation>& Operations();
const Operation* FindOperation(const std::string& name);

struct Registration {
  explicit Registration(Operation operation);
};

#define TORVO_IMAGE_CONCAT_INNER(a, b) a##b
#define TORVO_IMAGE_CONCAT(a, b) TORVO_IMAGE_CONCAT_INNER(a, b)
// TORVO_IMAGE_OPERATION({"name", "ARGS", "summary", check, run});
#define TORVO_IMAGE_OPERATION(...)                                                        \
  static const ::torvo::image_tool::Registration TORVO_IMAGE_CONCAT(torvoImageOperation, \
                                                                     __LINE__)(          \
      ::torvo::image_tool::Operation __VA_ARGS__)

// Requires exactly count arguments.
void ExpectArgumentCount(const Invocation& invocation, size_t count);

}  // namespace torvo::image_tool
