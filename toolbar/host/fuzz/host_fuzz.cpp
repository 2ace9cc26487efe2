// The input is both a byte stream of frames, as the browser would send it, and one message body.
// Besides the sanitizers' checks, every answer must be one valid JSON object with "ok", and
// every command line that would start TorvoTool must split back into exactly four fields.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/text.h"
#include "toolbar/host/command_line.h"
#include "toolbar/host/host.h"

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
  std::optional<Refusal> Start(const std::string& commandLine) override {
    if (torvo::SplitFields(std::string_view(commandLine), torvo::kFieldSeparator).size() != 4) __builtin_trap();
    return std::nullopt;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckingStarter starter;
  {
    BufferSource input(data, size);
    CheckingSink output;
    RunHost(input, output, starter);
  }
  CheckingSink::CheckAnswer(HandleMessage(std::string_view(reinterpret_cast<const char*>(data), size), starter));
  return 0;
}
