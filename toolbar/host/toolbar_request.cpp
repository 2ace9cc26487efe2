#include "toolbar/host/toolbar_request.h"

#include <nlohmann/json.hpp>

#include <array>

#include "toolbar/host/picture.h"
#include "toolbar/host/picture_member.h"

namespace torvo::toolbar {

namespace {

using nlohmann::json;

struct FieldRule {
  const char* name;
  const char* label;  // how the user knows the field
  std::string ToolbarRequest::*member;
  bool required;
  size_t maxBytes;  // 0: bounded in characters instead
};

constexpr char kPictureField[] = "picture";

const std::array<FieldRule, 4> kFields{{
    {"toolbarId", "The identity", &ToolbarRequest::toolbarId, true, kMaxToolbarIdBytes},
    {"url", "The page address", &ToolbarRequest::url, true, kMaxUrlBytes},
    {"title", "The page title", &ToolbarRequest::title, false, kMaxTitleBytes},
    {"note", "The note", &ToolbarRequest::note, false, 0},
}};

// Names from the outside world go into answers shortened; the answer is JSON-encoded later with
// invalid UTF-8 replaced, so cutting inside a character does no harm.
std::string Quote(std::string_view name) {
  constexpr size_t kShown = 64;
  std::string quoted = "\"";
  quoted.append(name.substr(0, kShown)).append(name.size() > kShown ? "...\"" : "\"");
  return quoted;
}

// Code points of valid UTF-8 (the JSON parser has checked it): every byte that does not
// continue a sequence starts one.
size_t CountCharacters(std::string_view utf8) {
  size_t count = 0;
  for (unsigned char c : utf8) count += (c & 0xC0) != 0x80;
  return count;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

Refusal Refuse(std::string code, std::string message) { return Refusal{std::move(code), std::move(message)}; }

}  // namespace

std::variant<ToolbarRequest, Refusal> ParseRequest(std::string text) {
  const std::optional<MessageWithoutPicture> parts = TakeOutPicture(text);
  json message = json::parse(parts ? std::string_view(parts->rest) : std::string_view(text), nullptr,
                             /*allow_exceptions=*/false);
  if (message.is_discarded()) return Refuse("bad_json", "The message is not valid JSON.");
  return ParseRequestJson(message, parts ? std::optional(parts->picture) : std::nullopt, &text);
}

std::variant<ToolbarRequest, Refusal> ParseRequestJson(const json& message, std::optional<std::string_view> picture,
                                                       std::string* pictureBuffer) {
  if (!message.is_object()) return Refuse("not_object", "The message must be a JSON object.");

  for (const auto& [name, value] : message.items()) {
    const FieldRule* rule = nullptr;
    for (const auto& f : kFields) {
      if (name == f.name) rule = &f;
    }
    if (!rule && name != kPictureField) return Refuse("unknown_field", "The message has the unknown field " + Quote(name) + ".");
    if (!value.is_string()) return Refuse("not_string", "The field " + Quote(name) + " must be a text.");
  }

  ToolbarRequest request;
  for (const auto& f : kFields) {
    auto it = message.find(f.name);
    if (it == message.end()) {
      if (f.required) return Refuse("missing_field", std::string("The message lacks the field \"") + f.name + "\".");
      continue;
    }
    std::string value = it->get<std::string>();
    if (f.maxBytes != 0 && value.size() > f.maxBytes) {
      return Refuse("too_long", std::string(f.label) + " is " + std::to_string(value.size()) +
                                    " bytes long; at most " + std::to_string(f.maxBytes) + " can be sent.");
    }
    if (f.maxBytes == 0 && CountCharacters(value) > kMaxNoteCharacters) {
      return Refuse("too_long", std::string(f.label) + " has " + std::to_string(CountCharacters(value)) +
                                    " characters; at most " + std::to_string(kMaxNoteCharacters) +
                                    " can be sent. Select a shorter text.");
    }
    // A command-line argument ends at the first NUL byte; the note is escaped, so it may hold one.
    if (f.maxBytes != 0 && value.find('\0') != std::string::npos) {
      return Refuse("nul_character", std::string(f.label) + " contains a NUL character, which cannot be sent.");
    }
    request.*f.member = std::move(value);
  }

  if (request.toolbarId.empty()) {
    return Refuse("no_identity", "No identity is set: enter it on the options page of the Torvo extension.");
  }
  if (!StartsWith(request.url, "http://") && !StartsWith(request.url, "https://")) {
    return Refuse("not_web_page", "Only web pages (http or https addresses) can be kept.");
  }
  // Last, as it is the costly check: the other fields are cheap to refuse first.
  if (auto it = message.find(kPictureField); it != message.end()) {
    auto png = picture ? DecodePictureUrl(*picture, pictureBuffer)
                       : DecodePictureUrl(std::string_view(it->get_ref<const std::string&>()));
    if (auto* refusal = std::get_if<Refusal>(&png)) return *refusal;
    request.picture = std::move(std::get<PngPicture>(png).png);
  }
  return request;
}

}  // namespace torvo::toolbar
