#include "tools/torvo-image/operations.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "tools/torvo-image/picture_io.h"

namespace torvo::image_tool {

namespace {
std::vector<Operation>& Table() {
  static std::vector<Operation> table;
  return table;
}

std::string Ordinal(size_t i) { return "argument " + std::to_string(i + 1); }
}  // namespace

Registration::Registration(Operation operation) {
  auto& table = Table();
  auto at = std::lower_bound(table.begin(), table.end(), operation.name,
                             [](const Operation& o, const std::string& name) { return o.name < name; });
  table.insert(at, std::move(operation));
}

const std::vector<Operation>& Operations() { return Table(); }

const Operation* FindOperation(const std::string& name) {
  for (const Operation& o : Table())
    if (o.name == name) return &o;
  return nullptr;
}

void ExpectArgumentCount(const Invocation& invocation, size_t count) {
  if (invocation.arguments().size() != count) {
    throw UsageError("expected " + std::to_string(count) + " argument" + (count == 1 ? "" : "s") +
                     " before INPUT and OUTPUT, got " + std::to_string(invocation.arguments().size()));
  }
}

int32_t Invocation::Integer(size_t i) const {
  if (i >= arguments_.size()) throw UsageError(Ordinal(i) + " is missing");
  std::string_view text = arguments_[i];
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    throw UsageError(Ordinal(i) + " \"" + arguments_[i] + "\" is not a whole number from " +
                     std::to_string(INT32_MIN) + " to " + std::to_string(INT32_MAX));
  }
  return value;
}

float Invocation::Number(size_t i) const {
  if (i >= arguments_.size()) throw UsageError(Ordinal(i) + " is missing");
  const std::string& text = arguments_[i];
  char* end = nullptr;
  errno = 0;
  float value = std::strtof(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(value)) {
    throw UsageError(Ordinal(i) + " \"" + text + "\" is not a number");
  }
  return value;
}

std::unique_ptr<cDIBSection> Invocation::Picture(size_t i) const {
  if (i >= arguments_.size()) throw UsageError(Ordinal(i) + " is missing");
  return LoadPicture(arguments_[i]);
}

}  // namespace torvo::image_tool
