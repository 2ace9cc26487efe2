#include "toolbar/host/message_framing.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace torvo::toolbar {

namespace {

// Fills buffer completely unless the stream ends first; returns the count read.
size_t ReadFully(ByteSource& source, char* buffer, size_t size) {
  size_t got = 0;
  while (got < size) {
    size_t n = source.Read(buffer + got, size - got);
    if (n == 0) break;
    got += n;
  }
  return got;
}

}  // namespace

Frame ReadFrame(ByteSource& source) {
  Frame frame;
  char header[4];
  size_t got = ReadFully(source, header, sizeof header);
  if (got == 0) {
    frame.kind = Frame::Kind::kEnd;
    return frame;
  }
  if (got < sizeof header) {
    frame.kind = Frame::Kind::kBroken;
    frame.error = "The message was cut short: its 4-byte length ended after " + std::to_string(got) + " bytes.";
    return frame;
  }
  uint32_t length;
  std::memcpy(&length, header, sizeof length);
  if (length > kMaxMessageBytes) {
    frame.kind = Frame::Kind::kBroken;
    frame.error = "The message is " + std::to_string(length) + " bytes long; at most " +
                  std::to_string(kMaxMessageBytes) + " bytes are accepted.";
    return frame;
  }
  frame.body.resize(length);
  got = ReadFully(source, frame.body.data(), length);
  if (got < length) {
    frame.kind = Frame::Kind::kBroken;
    frame.body.clear();
    frame.error = "The message was cut short: " + std::to_string(got) + " of " + std::to_string(length) +
                  " bytes arrived.";
    return frame;
  }
  frame.kind = Frame::Kind::kMessage;
  return frame;
}

std::string EncodeFrame(std::string_view message) {
  uint32_t length = static_cast<uint32_t>(message.size());
  std::string frame(sizeof length, '\0');
  std::memcpy(frame.data(), &length, sizeof length);
  frame.append(message);
  return frame;
}

size_t FdSource::Read(char* buffer, size_t size) {
  for (;;) {
    ssize_t n = ::read(fd_, buffer, size);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) return 0;  // a broken input ends the conversation like its end does
  }
}

bool FdSink::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace torvo::toolbar
