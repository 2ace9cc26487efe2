#pragma once
// The browser's native-messaging frames: a 4-byte length in the machine's own byte order, then
// that many bytes of UTF-8 JSON. The same framing carries the host's answers back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace torvo::toolbar {

// The largest picture the host takes (64 MiB of PNG, some 85 MiB as base64) and the text fields
// (well under a megabyte even escaped) fit; a larger length is a broken or hostile stream.
inline constexpr uint32_t kMaxMessageBytes = 96 * 1024 * 1024;

// Where frames come from: the host's standard input, or a buffer in tests and the fuzzer.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to size bytes into buffer; 0 at the end of the stream. May return fewer than asked.
  virtual size_t Read(char* buffer, size_t size) = 0;
};

// Where answers go.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all bytes; false when the other side is gone.
  virtual bool Write(std::string_view bytes) = 0;
};

struct Frame {
  enum class Kind {
    kMessage,   // body holds one whole message
    kEnd,       // the stream ended cleanly between two messages
    kBroken,    // the stream cannot be read further: error says why
  };
  Kind kind = Kind::kEnd;
  std::string body;
  std::string error;
};

// Reads the next frame, however the bytes arrive (one at a time is fine). A length over
// kMaxMessageBytes or a stream that ends inside a frame is kBroken: after it the byte stream
// has no trustworthy message boundary any more.
Frame ReadFrame(ByteSource& source);

// The frame of one message: the length in native byte order, then the bytes.
std::string EncodeFrame(std::string_view message);

// Reads from and writes to a file descriptor, retrying interrupted calls.
class FdSource final : public ByteSource {
 public:
  explicit FdSource(int fd) : fd_(fd) {}
  size_t Read(char* buffer, size_t size) override;

 private:
  int fd_;
};

class FdSink final : public ByteSink {
 public:
  explicit FdSink(int fd) : fd_(fd) {}
  bool Write(std::string_view bytes) override;

 private:
  int fd_;
};

}  // namespace torvo::toolbar
