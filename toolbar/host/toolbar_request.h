#pragma once
// One request of the extension: keep this page. The browser sends it as a JSON object with the
// string fields "toolbarId", "url", "title", "note" and "picture"; nothing else is accepted.
#include <nlohmann/json_fwd.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace torvo::toolbar {

// All four travel in one command-line argument, which Linux caps at 128 KiB: these bounds keep
// the whole line (the note at most 6 bytes per character once escaped) below that.
inline constexpr size_t kMaxToolbarIdBytes = 256;
inline constexpr size_t kMaxUrlBytes = 16 * 1024;
inline constexpr size_t kMaxTitleBytes = 8 * 1024;
inline constexpr size_t kMaxNoteCharacters = 16 * 1024;

// Texts as UTF-8, as they came.
struct ToolbarRequest {
  std::string toolbarId;
  std::string url;
  std::string title;
  std::string note;
  std::string picture;  // the PNG of the visible page, checked; empty when none came
};

// Why a request is not carried out: a short code the extension can translate, and a sentence
// for the user.
struct Refusal {
  std::string code;
  std::string message;
};

// Checks one message: a JSON object, known fields only, each a string within its bound, an
// identity, an address of an http or https page, and a picture (when there is one) that is a
// readable PNG within its bounds. The message's memory is used up, as HandleMessage's.
std::variant<ToolbarRequest, Refusal> ParseRequest(std::string json);
// The same for a message already read as JSON (any value). picture, when given, is the text of
// the message's "picture" member taken out before the parser read it (picture_member.h); the
// member itself then holds an empty text. pictureBuffer, when given, is the text that holds
// picture: the picture's bytes are decoded in its memory and take it over (picture.h).
std::variant<ToolbarRequest, Refusal> ParseRequestJson(const nlohmann::json& message,
                                                       std::optional<std::string_view> picture = std::nullopt,
                                                       std::string* pictureBuffer = nullptr);

}  // namespace torvo::toolbar
