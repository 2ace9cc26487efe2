#pragma once
// Which names from the service may become files in the work folder.
#include <optional>
#include <string>
#include <string_view>

namespace torvo::sync {

// Longest name (without ".png") the sync writes, in UTF-8 bytes.
inline constexpr size_t kMaxImageNameBytes = 200;

// Why the name cannot be a file of the work folder, or nothing when it can. A name that could
// climb out of the folder, hide itself, carry control characters, or exceed the length is refused.
// The empty name is fine: its file is ".png".
std::optional<std::u16string> ImageNameProblem(std::u16string_view name);

}  // namespace torvo::sync
