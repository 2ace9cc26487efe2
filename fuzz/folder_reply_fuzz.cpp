// The folder-list reply, read from code page 949 as TorvoTool reads it: "0" is the only signed-out
// reply, every other reply is either a list that reads back the same when written out again, or
// a failure with a message. The identity from the command line always makes a clean request.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/codepage.h"
#include "upload/folder_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace torvo;
  using Kind = upload::FolderReply::Kind;
  const std::u16string reply = FromCp949(fuzz::Bytes(data, size));
  const upload::FolderReply parsed = upload::ParseFolderReply(reply);

  TORVO_FUZZ_CHECK((parsed.kind == Kind::kSignedOut) == (reply == u"0"), "signed out without the reply \"0\"");
  if (parsed.kind != Kind::kFolders) {
    TORVO_FUZZ_CHECK(!parsed.message.empty(), "a refused reply without a message");
  } else {
    TORVO_FUZZ_CHECK(!parsed.target.empty() && parsed.target.find(u'|') == std::u16string::npos,
                     "an empty upload host or one with \"|\"");
    size_t bars = 0;
    for (char16_t c : reply) bars += c == u'|';
    TORVO_FUZZ_CHECK(parsed.folders.size() == bars, "not one folder per \"|\"");
    std::u16string written = parsed.target;
    for (const auto& folder : parsed.folders) {
      TORVO_FUZZ_CHECK(folder.name.find_first_of(u"|^") == std::u16string::npos, "a folder name with \"|\" or \"^\"");
      written += u"|" + folder.name + u"^" + FromUtf8(std::to_string(folder.id));
    }
    const upload::FolderReply again = upload::ParseFolderReply(written);
    TORVO_FUZZ_CHECK(again.kind == Kind::kFolders && again.target == parsed.target && again.folders == parsed.folders,
                     "the list written out again reads differently");
  }

  const std::string address = upload::FolderListAddress("127.0.0.1:8765", fuzz::Text(data, size));
  TORVO_FUZZ_CHECK(fuzz::IsCleanRequestTarget(address), "the folder-list address is not a clean request target");
  return 0;
}
