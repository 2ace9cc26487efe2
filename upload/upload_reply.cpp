#include "upload/upload_reply.h"

#include <algorithm>
#include <cctype>

#include "platform/codepage.h"

namespace torvo::upload {

namespace {

constexpr std::u16string_view kIdNotFind = u"idnotfind";
constexpr std::u16string_view kPng = u".png";
constexpr size_t kNameLength = 14;
// The longest head whose Content-Length is looked for; a longer one leaves the length unknown.
constexpr size_t kMaxHead = 64 * 1024;

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

std::optional<uint64_t> ContentLength(std::string_view head) {
  if (head.substr(0, 5) != "HTTP/") return std::nullopt;
  size_t at = 0;
  while ((at = head.find("\r\n", at)) != std::string_view::npos) {
    at += 2;
    std::string_view line = head.substr(at, head.find("\r\n", at) - at);
    constexpr std::string_view kName = "content-length:";
    if (line.size() < kName.size()) continue;
    bool same = true;
    for (size_t i = 0; i < kName.size() && same; ++i)
      same = std::tolower(static_cast<unsigned char>(line[i])) == kName[i];
    if (!same) continue;
    std::string_view value = line.substr(kName.size());
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    if (value.empty() || value.size() > 18) return std::nullopt;
    uint64_t n = 0;
    for (char c : value) {
      if (c < '0' || c > '9') return std::nullopt;
      n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    return n;
  }
  return std::nullopt;
}

}  // namespace

bool IsNumeric(std::u16string_view t) {
  size_t i = 0, end = t.size();
  while (i < end && t[i] == u' ') ++i;
  while (end > i && t[end - 1] == u' ') --end;
  if (i < end && (t[i] == u'+' || t[i] == u'-')) ++i;
  size_t digits = 0;
  bool point = false;
  for (; i < end; ++i) {
    if (IsDigit(t[i])) {
      ++digits;
    } else if (t[i] == u'.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  if (i < end && (t[i] == u'e' || t[i] == u'E')) {
    ++i;
    if (i < end && (t[i] == u'+' || t[i] == u'-')) ++i;
    size_t exponent = 0;
    while (i < end && IsDigit(t[i])) ++i, ++exponent;
    if (exponent == 0) return false;
  }
  return i == end;
}

bool ShowsUploadAnswer(std::u16string_view reply) {
  if (reply.ends_with(kIdNotFind)) return true;
  const size_t p = reply.find(kPng);
  return p != std::u16string_view::npos && p >= kNameLength;
}

UploadVerdict DecideUploadReply(std::u16string_view reply) {
  if (reply.ends_with(kIdNotFind)) return {UploadVerdict::Kind::kSignedOut, {}};
  const size_t p = reply.find(kPng);
  if (p != std::u16string_view::npos && p >= kNameLength) {
    const std::u16string_view inFront = reply.substr(p - kNameLength, kNameLength);
    if (IsNumeric(inFront)) return {UploadVerdict::Kind::kStored, std::u16string(inFront) + u".png"};
  }
  return {UploadVerdict::Kind::kNotStored, {}};
}

void UploadReplyReader::Scan(std::u16string_view text) {
  if (text.empty()) return;
  characters_ += text.size();
  last_ += text;
  if (last_.size() > kIdNotFind.size()) last_.erase(0, last_.size() - kIdNotFind.size());
  if (pngSeen_) return;
  // window_ keeps the last 14 + 3 characters: a ".png" that starts in it and ends in the new
  // text is found, and the 14 characters in front of any ".png" found are there.
  window_ += text;
  const size_t p = window_.find(kPng);
  if (p != std::u16string::npos) {
    pngSeen_ = true;
    if (p >= kNameLength) inFront_ = window_.substr(p - kNameLength, kNameLength);
    window_.clear();
    return;
  }
  const size_t keep = kNameLength + kPng.size() - 1;
  if (window_.size() > keep) window_.erase(0, window_.size() - keep);
}

void UploadReplyReader::Frame(std::string_view piece) {
  if (headDone_) {
    bodyBytes_ += piece.size();
    return;
  }
  const size_t before = head_.size();
  head_.append(piece.substr(0, kMaxHead + 4 - std::min(before, kMaxHead + 4)));
  const size_t end = head_.find("\r\n\r\n", before >= 3 ? before - 3 : 0);
  if (end != std::string::npos) {
    headDone_ = true;
    contentLength_ = ContentLength(std::string_view(head_).substr(0, end + 2));
    bodyBytes_ = before + piece.size() - (end + 4);
    head_.clear();
    head_.shrink_to_fit();
  } else if (head_.size() > kMaxHead) {
    headDone_ = true;  // no length will be known: the close or the time decides
    head_.clear();
    head_.shrink_to_fit();
  }
}

std::optional<UploadVerdict> UploadReplyReader::Add(std::string_view piece) {
  if (piece.empty()) return std::nullopt;
  if (first_) {
    first_ = false;
    const std::u16string text = FromCp949(piece);
    if (ShowsUploadAnswer(text)) return DecideUploadReply(text);
  }
  Frame(piece);
  // Decode whole characters only: a lead byte at the end waits for its trail byte.
  std::string bytes = std::move(carry_);
  carry_.clear();
  bytes.append(piece);
  std::u16string text = FromCp949(bytes);
  if (static_cast<unsigned char>(bytes.back()) >= 0x80 && text.back() == u'\uFFFD') {
    carry_ = bytes.back();
    text.pop_back();
  }
  Scan(text);
  if (contentLength_ && bodyBytes_ >= *contentLength_) return Finish();
  return std::nullopt;
}

UploadVerdict UploadReplyReader::Finish() {
  if (!carry_.empty()) {
    Scan(FromCp949(carry_));
    carry_.clear();
  }
  if (last_ == kIdNotFind) return {UploadVerdict::Kind::kSignedOut, {}};
  if (pngSeen_ && inFront_.size() == kNameLength && IsNumeric(inFront_))
    return {UploadVerdict::Kind::kStored, inFront_ + u".png"};
  return {UploadVerdict::Kind::kNotStored, {}};
}

}  // namespace torvo::upload
