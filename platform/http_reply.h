#pragma once
// HTTP/1.1 on a connection of our own (the Windows client's TLS channel): the request's bytes,
// and the reply read as its bytes arrive, with the body's limit and the end of the reply told
// from its framing (Content-Length, chunked, or the connection's close). No system calls here.
#include <cstdint>
#include <string>
#include <string_view>

namespace torvo {

// A request with Host and, for a body, its Content-Type and Content-Length. target is the path
// and query as sent; hostHeader the host with its port when it is not the scheme's own.
std::string HttpRequestBytes(std::string_view method, std::string_view target, std::string_view hostHeader,
                             std::string_view contentType, std::string_view body);

class HttpReplyReader {
 public:
  enum class State { kHead, kBody, kDone, kFailed };
  enum class Fault { kNone, kMalformed, kTooLarge, kPartial };

  explicit HttpReplyReader(int64_t maxBodyBytes);

  // Bytes of the reply as they arrive. Bytes past the reply's end are kept in leftover().
  State Feed(std::string_view bytes);
  // The peer closed its side: a reply read to the close is done, any other is cut short.
  State End();

  State state() const { return state_; }
  Fault fault() const { return fault_; }
  // Why kFailed, in the words the other clients use.
  std::string error() const;
  long status() const { return status_; }
  // Bytes of the body so far (the whole body once kDone).
  const std::string& body() const { return body_; }
  std::string TakeBody() { return std::move(body_); }
  // Whether the connection may carry the next request once this reply is done.
  bool keepAlive() const { return keepAlive_ && state_ == State::kDone && leftover_.empty(); }
  // Whether any byte of a reply has arrived (a kept connection the server closed has none).
  bool started() const { return started_; }
  const std::string& leftover() const { return leftover_; }

 private:
  enum class Framing { kLength, kChunked, kClose, kNone };
  enum class Chunk { kSize, kData, kDataEnd, kTrailer };
  void ParseHead();
  void TakeBody(std::string_view bytes);
  void TakeChunked();
  void Fail(Fault fault);
  bool Append(std::string_view bytes);

  int64_t maxBodyBytes_;
  State state_ = State::kHead;
  Fault fault_ = Fault::kNone;
  std::string buffer_;  // head bytes, or chunked bytes not yet taken
  size_t scanned_ = 0;  // of the head bytes, those searched for its end already
  std::string body_;
  std::string leftover_;
  long status_ = 0;
  Framing framing_ = Framing::kNone;
  int64_t remaining_ = 0;  // of the Content-Length, or of the chunk under way
  Chunk chunk_ = Chunk::kSize;
  bool keepAlive_ = true;
  bool started_ = false;
};

}  // namespace torvo
