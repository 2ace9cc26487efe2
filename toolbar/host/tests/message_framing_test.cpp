#include "toolbar/host/message_framing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace torvo::toolbar {
namespace {

// Hands out its bytes at most `chunk` at a time, like a pipe that delivers pieces.
class ChunkedSource final : public ByteSource {
 public:
  ChunkedSource(std::string bytes, size_t chunk) : bytes_(std::move(bytes)), chunk_(chunk) {}
  size_t Read(char* buffer, size_t size) override {
    size_t n = std::min({size, chunk_, bytes_.size() - offset_});
    std::memcpy(buffer, bytes_.data() + offset_, n);
    offset_ += n;
    return n;
  }

 private:
  std::string bytes_;
  size_t chunk_;
  size_t offset_ = 0;
};

std::string Length(uint32_t length) {
  std::string bytes(4, '\0');
  std::memcpy(bytes.data(), &length, 4);
  return bytes;
}

TEST(MessageFraming, FrameIsNativeLengthThenBytes) {
  static_assert(std::endian::native == std::endian::little, "the expected bytes below are little-endian");
  EXPECT_EQ(EncodeFrame("{}"), std::string("\x02\x00\x00\x00{}", 6));
  EXPECT_EQ(EncodeFrame(""), std::string(4, '\0'));
  EXPECT_EQ(EncodeFrame(std::string(300, 'x')).substr(0, 4), std::string("\x2C\x01\x00\x00", 4));
}

TEST(MessageFraming, ReadsWholeFramesHoweverTheBytesArrive) {
  std::string stream = EncodeFrame("{\"a\":1}") + EncodeFrame("") + EncodeFrame("가나");
  for (size_t chunk : {1u, 2u, 3u, 5u, 4096u}) {
    ChunkedSource source(stream, chunk);
    std::vector<std::string> bodies;
    Frame frame;
    while ((frame = ReadFrame(source)).kind == Frame::Kind::kMessage) bodies.push_back(frame.body);
    EXPECT_EQ(frame.kind, Frame::Kind::kEnd) << chunk;
    EXPECT_EQ(bodies, (std::vector<std::string>{"{\"a\":1}", "", "가나"})) << chunk;
  }
}

TEST(MessageFraming, BrokenStreamsSayWhy) {
  struct Case {
    std::string stream;
    std::string error;
  };
  const Case cases[] = {
      {std::string("\x05", 1), "The message was cut short: its 4-byte length ended after 1 bytes."},
      {std::string("\x05\x00\x00", 3), "The message was cut short: its 4-byte length ended after 3 bytes."},
      {Length(10) + "{\"a\"", "The message was cut short: 4 of 10 bytes arrived."},
      {Length(10), "The message was cut short: 0 of 10 bytes arrived."},
      {Length(kMaxMessageBytes + 1) + "{}", "The message is 100663297 bytes long; at most 100663296 bytes are accepted."},
      {Length(0xFFFFFFFF), "The message is 4294967295 bytes long; at most 100663296 bytes are accepted."},
  };
  for (const auto& c : cases) {
    for (size_t chunk : {1u, 4096u}) {
      ChunkedSource source(c.stream, chunk);
      Frame frame = ReadFrame(source);
      EXPECT_EQ(frame.kind, Frame::Kind::kBroken) << c.error;
      EXPECT_EQ(frame.error, c.error);
      EXPECT_TRUE(frame.body.empty());
    }
  }
}

TEST(MessageFraming, TheLargestAllowedMessageIsRead) {
  std::string body(kMaxMessageBytes, 'n');
  ChunkedSource source(EncodeFrame(body), 65536);
  Frame frame = ReadFrame(source);
  ASSERT_EQ(frame.kind, Frame::Kind::kMessage);
  EXPECT_EQ(frame.body, body);
}

}  // namespace
}  // namespace torvo::toolbar
