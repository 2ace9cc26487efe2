// The input is both a byte stream of frames, as the browser would send it, and one message body.
// Besides the sanitizers' checks, every answer must be one valid JSON object with "ok", and
// every command line that would start TorvoTool must split back into exactly four fields.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/text.h"
#include "toolbar/host/command_line.h"
#include "toolbar/host/connect_request.h"
#include "toolbar/host/host.h"
#include "toolbar/host/toolbar_request.h"
#include "platform/picture_handover.h"

namespace {

using namespace torvo::toolbar;

class BufferSource final : public ByteSource {
 public:
  BufferSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t Read(char* buffer, size_t size) override {
    // Pieces of up to 3 bytes, like a pipe that delivers a frame in fragments.
    size_t n = std::min({size, size_ - offset_, size_t{3}});
    std::memcpy(buffer, data_ + offset_, n);
    offset_ += n;
    return n;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
};

class CheckingSink final : public ByteSink {
 public:
  bool Write(std::string_view bytes) override {
    buffered_.append(bytes);
    while (buffered_.size() >= 4) {
      uint32_t length;
      std::memcpy(&length, buffered_.data(), 4);
      if (buffered_.size() < 4 + length) break;
      CheckAnswer(buffered_.substr(4, length));
      buffered_.erase(0, 4 + length);
    }
    return true;
  }
  ~CheckingSink() override {
    if (!buffered_.empty()) __builtin_trap();  // a frame was written in part
  }
  static void CheckAnswer(std::string_view answer) {
    auto json = nlohmann::json::parse(answer, nullptr, false);
    if (json.is_discarded() || !json.is_object() || !json.contains("ok") || !json["ok"].is_boolean()) __builtin_trap();
  }

 private:
  std::string buffered_;
};

class CheckingStarter final : public ToolStarter {
 public:
  std::optional<Refusal> Start(const std::string& commandLine, std::string_view picture) override {
    if (torvo::SplitFields(std::string_view(commandLine), torvo::kFieldSeparator).size() != 4) __builtin_trap();
    // A picture that gets this far is a PNG within the bounds.
    if (!picture.empty() && (picture.size() > torvo::kMaxHandedOverPictureBytes || !picture.starts_with("\x89PNG")))
      __builtin_trap();
    return std::nullopt;
  }
};

// The options page's Connect gets this far only with an http(s) address and, when a certificate
// came, a PEM one; the service here never accepts, so nothing is ever written.
class CheckingConnector final : public ServiceConnector {
 public:
  static void CheckAddress(const torvo::ServiceAddress& service) {
    if ((service.scheme != "http" && service.scheme != "https") || service.host.empty() ||
        service.path.empty() || service.path.front() != '/' || service.path.back() != '/')
      __builtin_trap();
  }
  ConnectOutcome SignIn(const torvo::ServiceAddress& service, const std::string& name, const std::string& password,
                        const std::string&, const std::string& pem) override {
    CheckAddress(service);
    if (name.empty() || password.empty() || name.size() > kMaxNameBytes || (!pem.empty() && !IsPemCertificate(pem)))
      __builtin_trap();
    return {ConnectOutcome::Kind::kCredentials, "", "", 0, "no"};
  }
  ConnectOutcome Check(const torvo::ServiceAddress& service, const std::string& identity,
                       const std::string& pem) override {
    CheckAddress(service);
    if (identity.empty() || identity.find(";^;") != std::string::npos || (!pem.empty() && !IsPemCertificate(pem)))
      __builtin_trap();
    return {ConnectOutcome::Kind::kSignedOut, "", "", 0, "no"};
  }
  bool SignOut(const torvo::ServiceAddress&, const std::string&, const std::string&) override { return false; }
};

// The picture taken out before parsing and decoded over its own text must change no outcome: the
// same refusal, or the same fields and picture, as the parser reading the whole message.
void CheckSameAsTheParserAlone(std::string_view message) {
  auto taken = ParseRequest(std::string(message));
  auto whole = nlohmann::json::parse(message, nullptr, /*allow_exceptions=*/false);
  if (whole.is_discarded()) {
    auto* refusal = std::get_if<Refusal>(&taken);
    if (!refusal || refusal->code != "bad_json") __builtin_trap();
    return;
  }
  auto alone = ParseRequestJson(whole);
  if (taken.index() != alone.index()) __builtin_trap();
  if (auto* refusal = std::get_if<Refusal>(&taken)) {
    const Refusal& other = std::get<Refusal>(alone);
    if (refusal->code != other.code || refusal->message != other.message) __builtin_trap();
    return;
  }
  const auto& a = std::get<ToolbarRequest>(taken);
  const auto& b = std::get<ToolbarRequest>(alone);
  if (a.toolbarId != b.toolbarId || a.url != b.url || a.title != b.title || a.note != b.note || a.picture != b.picture)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckingStarter starter;
  CheckingConnector connector;
  // Forget removes this file: a name that is never there.
  const ConnectionPlace place{&connector, "/nonexistent/torvo-fuzz/connection"};
  {
    BufferSource input(data, size);
    CheckingSink output;
    RunHost(input, output, starter, place);
  }
  const std::string_view message(reinterpret_cast<const char*>(data), size);
  CheckingSink::CheckAnswer(HandleMessage(std::string(message), starter, place));
  CheckSameAsTheParserAlone(message);
  return 0;
}
