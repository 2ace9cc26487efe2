#pragma once
// The service's answer to an upload, read as the upload tool reads it: the raw bytes of the
// reply (status line and headers included) as code page 949 text.
//   - it ends with "idnotfind": the user is signed out;
//   - the 14 characters in front of its first ".png" form a number: the image was stored under
//     those 14 characters + ".png";
//   - anything else: the upload was not taken.
// A first piece that already shows one of the two shapes is decided at once; otherwise the
// pieces are gathered until the reply is complete (its announced length has arrived, or the
// connection closed, or the caller's time is up) and the whole is decided. Memory stays small
// whatever the reply's length.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace torvo::upload {

struct UploadVerdict {
  enum class Kind { kStored, kSignedOut, kNotStored };
  Kind kind = Kind::kNotStored;
  std::u16string name;  // kStored: the image's name on the service, 14 characters + ".png"
  bool operator==(const UploadVerdict&) const = default;
};

inline constexpr char16_t kSignedOutReplyMessage[] = u"로그아웃 상태입니다.";
inline constexpr char16_t kNotStoredMessage[] = u"You must login again.1";

// Optional spaces around, an optional sign, digits with at most one decimal point, an optional
// exponent, and nothing else.
bool IsNumeric(std::u16string_view text);

// Whether the text ends with "idnotfind" or has 14 characters in front of its first ".png".
bool ShowsUploadAnswer(std::u16string_view reply);

// The decision on a whole reply.
UploadVerdict DecideUploadReply(std::u16string_view reply);

class UploadReplyReader {
 public:
  // One piece as it arrived. Returns the verdict once it is known: at once for a first piece
  // that shows an answer, otherwise when the reply's announced length has arrived.
  std::optional<UploadVerdict> Add(std::string_view piece);
  // The connection closed or the time is up: the decision on what has arrived.
  UploadVerdict Finish();
  // Whether any byte has arrived.
  bool Started() const { return !first_; }

 private:
  void Scan(std::u16string_view text);
  void Frame(std::string_view piece);

  bool first_ = true;
  std::string carry_;              // a lead byte whose trail byte has not arrived yet
  std::u16string window_;          // the last characters while no ".png" has been seen
  uint64_t characters_ = 0;
  bool pngSeen_ = false;
  std::u16string inFront_;         // the 14 characters in front of the first ".png", if as many
  std::u16string last_;            // the last 9 characters
  // The HTTP framing: the head up to its empty line, then the body's length.
  std::string head_;
  bool headDone_ = false;
  std::optional<uint64_t> contentLength_;
  uint64_t bodyBytes_ = 0;
};

}  // namespace torvo::upload
