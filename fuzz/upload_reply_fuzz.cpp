// The upload's reply as TorvoTool reads it, cut into pieces as the network may deliver them:
// after a first piece without an answer, the verdict is that of the whole reply; a stored name is
// always 14 numeric characters and ".png" (no folder separator, so the thumbnail stays in the
// work folder). The first byte chooses the cuts.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/codepage.h"
#include "upload/upload_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace torvo;
  using Kind = upload::UploadVerdict::Kind;
  if (size == 0) return 0;
  const size_t step = data[0] % 61 + 1;
  const std::string_view reply = fuzz::Bytes(data + 1, size - 1);
  const upload::UploadVerdict whole = upload::DecideUploadReply(FromCp949(reply));
  if (whole.kind == Kind::kStored) {
    TORVO_FUZZ_CHECK(whole.name.size() == 18 && whole.name.ends_with(u".png"), "a stored name of another form");
    TORVO_FUZZ_CHECK(upload::IsNumeric(whole.name.substr(0, 14)), "a stored name that is no number");
    TORVO_FUZZ_CHECK(whole.name.find(u'/') == std::u16string::npos, "a stored name with a folder separator");
  }

  upload::UploadReplyReader reader;
  TORVO_FUZZ_CHECK(!reader.Add("HTTP/1.1 200 OK\r\n"), "a first piece without an answer was decided");
  std::optional<upload::UploadVerdict> verdict;
  for (size_t at = 0; at < reply.size() && !verdict; at += step) verdict = reader.Add(reply.substr(at, step));
  if (!verdict) {
    TORVO_FUZZ_CHECK(reader.Finish() == upload::DecideUploadReply(FromCp949("HTTP/1.1 200 OK\r\n" + std::string(reply))),
                     "pieces decided otherwise than the whole reply");
  }
  return 0;
}
