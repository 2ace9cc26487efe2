#include "platform/http_reply.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace torvo {

namespace {

// A head larger than this is no reply of a server of ours: refused instead of read on forever.
constexpr size_t kMaxHeadBytes = 64 * 1024;
constexpr size_t kMaxChunkLine = 1024;

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// Whether a comma-separated header value holds token (case aside).
bool HasToken(std::string_view value, std::string_view token) {
  const std::string lower = Lower(value);
  size_t at = 0;
  while (at <= lower.size()) {
    size_t end = lower.find(',', at);
    if (end == std::string::npos) end = lower.size();
    if (Trim(std::string_view(lower).substr(at, end - at)) == token) return true;
    at = end + 1;
  }
  return false;
}

// The end of the head (just past its empty line) in text, or npos; from is where to look from.
size_t HeadEnd(const std::string& text, size_t from) {
  for (size_t at = text.find('\n', from); at != std::string::npos; at = text.find('\n', at + 1)) {
    if (at + 1 < text.size() && text[at + 1] == '\n') return at + 2;
    if (at + 2 < text.size() && text[at + 1] == '\r' && text[at + 2] == '\n') return at + 3;
  }
  return std::string::npos;
}

}  // namespace

std::string HttpRequestBytes(std::string_view method, std::string_view target, std::string_view hostHeader,
                             std::string_view contentType, std::string_view body) {
  std::string request;
  request.reserve(target.size() + hostHeader.size() + contentType.size() + 128);
  request.append(method).append(" ").append(target.empty() ? "/" : target).append(" HTTP/1.1\r\n");
  request.append("Host: ").append(hostHeader).append("\r\n");
  request.append("User-Agent: Torvo\r\nAccept: */*\r\n");
  if (!contentType.empty()) request.append("Content-Type: ").append(contentType).append("\r\n");
  if (!body.empty() || method == "POST") request.append("Content-Length: " + std::to_string(body.size()) + "\r\n");
  request.append("\r\n");
  request.append(body);
  return request;
}

HttpReplyReader::HttpReplyReader(int64_t maxBodyBytes) : maxBodyBytes_(maxBodyBytes) {}

void HttpReplyReader::Fail(Fault fault) {
  state_ = State::kFailed;
  fault_ = fault;
  body_.clear();
  buffer_.clear();
}

std::string HttpReplyReader::error() const {
  switch (fault_) {
    case Fault::kNone: return {};
    case Fault::kTooLarge: return "the reply is larger than " + std::to_string(maxBodyBytes_ >> 20) + " MiB";
    case Fault::kPartial: return "Transferred a partial file";
    case Fault::kMalformed: break;
  }
  return "Failure when receiving data from the peer";
}

bool HttpReplyReader::Append(std::string_view bytes) {
  if (static_cast<int64_t>(body_.size() + bytes.size()) > maxBodyBytes_) {
    Fail(Fault::kTooLarge);
    return false;
  }
  body_.append(bytes);
  return true;
}

HttpReplyReader::State HttpReplyReader::Feed(std::string_view bytes) {
  if (!bytes.empty()) started_ = true;
  switch (state_) {
    case State::kHead:
      buffer_.append(bytes);
      ParseHead();
      break;
    case State::kBody:
      TakeBody(bytes);
      break;
    case State::kDone:
      leftover_.append(bytes);
      break;
    case State::kFailed:
      break;
  }
  return state_;
}

HttpReplyReader::State HttpReplyReader::End() {
  if (state_ == State::kHead) {
    Fail(Fault::kMalformed);
  } else if (state_ == State::kBody) {
    if (framing_ == Framing::kClose) {
      state_ = State::kDone;
      keepAlive_ = false;
    } else {
      Fail(Fault::kPartial);
    }
  }
  return state_;
}

void HttpReplyReader::ParseHead() {
  for (;;) {
    // A head arriving in small pieces is not searched from its start each time.
    const size_t end = HeadEnd(buffer_, scanned_);
    if (end == std::string::npos) {
      scanned_ = buffer_.size() > 3 ? buffer_.size() - 3 : 0;
      if (buffer_.size() > kMaxHeadBytes) Fail(Fault::kMalformed);
      return;
    }
    scanned_ = 0;
    if (end > kMaxHeadBytes) return Fail(Fault::kMalformed);
    const std::string head = buffer_.substr(0, end);
    std::string rest = buffer_.substr(end);
    buffer_.clear();

    // The status line: "HTTP/1.x NNN reason".
    size_t lineEnd = head.find('\n');
    const std::string_view statusLine = Trim(std::string_view(head).substr(0, lineEnd));
    if (statusLine.size() < 12 || statusLine.substr(0, 7) != "HTTP/1." || statusLine[8] != ' ') return Fail(Fault::kMalformed);
    const bool http10 = statusLine[7] == '0';
    long status = 0;
    const std::string_view code = statusLine.substr(9, 3);
    if (!std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        (statusLine.size() > 12 && statusLine[12] != ' '))
      return Fail(Fault::kMalformed);
    std::from_chars(code.data(), code.data() + code.size(), status);
    if (status < 100) return Fail(Fault::kMalformed);

    bool chunked = false, close = http10, lengthSeen = false;
    int64_t length = 0;
    for (size_t at = lineEnd + 1; at < head.size();) {
      size_t next = head.find('\n', at);
      if (next == std::string::npos) next = head.size();
      const std::string_view line = Trim(std::string_view(head).substr(at, next - at));
      at = next + 1;
      if (line.empty()) break;
      const size_t colon = line.find(':');
      if (colon == std::string_view::npos || colon == 0) return Fail(Fault::kMalformed);
      const std::string name = Lower(line.substr(0, colon));
      const std::string_view value = Trim(line.substr(colon + 1));
      if (name == "content-length") {
        int64_t n = -1;
        const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
        if (value.empty() || ec != std::errc() || ptr != value.data() + value.size() || n < 0 ||
            (lengthSeen && n != length))
          return Fail(Fault::kMalformed);
        length = n;
        lengthSeen = true;
      } else if (name == "transfer-encoding") {
        chunked = chunked || HasToken(value, "chunked");
      } else if (name == "connection") {
        if (HasToken(value, "close")) close = true;
        else if (HasToken(value, "keep-alive")) close = false;
      }
    }
    // An interim reply (100 Continue) is passed over; the real one follows.
    if (status < 200 && status != 101) {
      buffer_ = std::move(rest);
      continue;
    }
    status_ = status;
    keepAlive_ = !close;
    state_ = State::kBody;
    if (status == 204 || status == 304) {
      framing_ = Framing::kNone;
    } else if (chunked) {
      framing_ = Framing::kChunked;
    } else if (lengthSeen) {
      if (length > maxBodyBytes_) return Fail(Fault::kTooLarge);
      framing_ = Framing::kLength;
      remaining_ = length;
    } else {
      framing_ = Framing::kClose;
      keepAlive_ = false;
    }
    if (framing_ == Framing::kNone || (framing_ == Framing::kLength && remaining_ == 0)) {
      state_ = State::kDone;
      leftover_ = std::move(rest);
      return;
    }
    TakeBody(rest);
    return;
  }
}

void HttpReplyReader::TakeBody(std::string_view bytes) {
  switch (framing_) {
    case Framing::kClose:
      Append(bytes);
      return;
    case Framing::kLength: {
      const size_t take = static_cast<size_t>(std::min<int64_t>(remaining_, static_cast<int64_t>(bytes.size())));
      if (!Append(bytes.substr(0, take))) return;
      remaining_ -= static_cast<int64_t>(take);
      if (remaining_ == 0) {
        state_ = State::kDone;
        leftover_.append(bytes.substr(take));
      }
      return;
    }
    case Framing::kChunked:
      buffer_.append(bytes);
      TakeChunked();
      return;
    case Framing::kNone:
      leftover_.append(bytes);
      return;
  }
}

void HttpReplyReader::TakeChunked() {
  size_t at = 0;
  while (state_ == State::kBody) {
    if (chunk_ == Chunk::kData) {
      const size_t take = static_cast<size_t>(std::min<int64_t>(remaining_, static_cast<int64_t>(buffer_.size() - at)));
      if (take == 0) break;
      if (!Append(std::string_view(buffer_).substr(at, take))) return;
      at += take;
      remaining_ -= static_cast<int64_t>(take);
      if (remaining_ == 0) chunk_ = Chunk::kDataEnd;
      continue;
    }
    const size_t lineEnd = buffer_.find('\n', at);
    if (lineEnd == std::string::npos) {
      if (buffer_.size() - at > kMaxChunkLine) return Fail(Fault::kMalformed);
      break;
    }
    const std::string_view line = Trim(std::string_view(buffer_).substr(at, lineEnd - at));
    at = lineEnd + 1;
    if (chunk_ == Chunk::kDataEnd) {
      if (!line.empty()) return Fail(Fault::kMalformed);
      chunk_ = Chunk::kSize;
    } else if (chunk_ == Chunk::kSize) {
      // The size in hexadecimal; an extension after ';' is passed over.
      const std::string_view digits = Trim(line.substr(0, line.find(';')));
      uint64_t size = 0;
      const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), size, 16);
      if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size() ||
          size > static_cast<uint64_t>(INT64_MAX))
        return Fail(Fault::kMalformed);
      if (static_cast<int64_t>(body_.size()) + static_cast<int64_t>(std::min<uint64_t>(size, INT64_MAX / 2)) >
          maxBodyBytes_)
        return Fail(Fault::kTooLarge);
      remaining_ = static_cast<int64_t>(size);
      chunk_ = size == 0 ? Chunk::kTrailer : Chunk::kData;
    } else {  // the trailer's fields, up to an empty line
      if (line.empty()) {
        state_ = State::kDone;
        leftover_ = buffer_.substr(at);
        buffer_.clear();
        return;
      }
    }
  }
  buffer_.erase(0, at);
}

}  // namespace torvo
