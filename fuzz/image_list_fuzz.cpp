// The image-list reply as TorvoSync reads it, and what it makes of each name: a name it accepts
// can only be a plain file directly in the work folder, and every address it builds from the
// reply is a clean request target.
#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/codepage.h"
#include "sync/image_list.h"
#include "sync/image_name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace torvo;
  const std::string_view bytes = fuzz::Bytes(data, size);
  const sync::ImageList list = sync::ParseImageList(bytes);

  TORVO_FUZZ_CHECK(list.signedOut == (bytes == "0"), "signed out without the reply \"0\"");
  if (list.signedOut) return 0;
  size_t bars = 0;
  for (char c : bytes) bars += c == '|';
  TORVO_FUZZ_CHECK(list.names.size() == bars, "not one name per \"|\"");
  TORVO_FUZZ_CHECK(list.baseAddress.find(u'|') == std::u16string::npos, "the base address holds \"|\"");
  if (sync::IsUsableBaseAddress(list.baseAddress)) {
    TORVO_FUZZ_CHECK(list.baseAddress.starts_with(u"http://") || list.baseAddress.starts_with(u"https://"),
                     "a base address without http:// or https:// is taken");
  }

  const std::filesystem::path folder = "/home/user/Torvo";
  for (const auto& name : list.names) {
    TORVO_FUZZ_CHECK(name.find(u'|') == std::u16string::npos, "a name holds \"|\"");
    TORVO_FUZZ_CHECK(fuzz::IsCleanRequestTarget(sync::DownloadAddress(list.baseAddress, name)),
                     "a download address is not a clean request target");
    if (sync::ImageNameProblem(name)) continue;
    const std::string file = ToUtf8(name) + ".png";
    TORVO_FUZZ_CHECK(file.size() <= sync::kMaxImageNameBytes + 4, "an accepted name is too long");
    TORVO_FUZZ_CHECK(file.find('/') == std::string::npos && file.find('\\') == std::string::npos,
                     "an accepted name holds a slash");
    TORVO_FUZZ_CHECK(name.empty() || name[0] != u'.', "an accepted name begins with a dot");
    for (unsigned char c : file) TORVO_FUZZ_CHECK(c >= 0x20 && c != 0x7F, "an accepted name holds a control byte");
    const std::filesystem::path local = (folder / file).lexically_normal();
    TORVO_FUZZ_CHECK(local.parent_path() == folder && local.filename() == file,
                     "an accepted name is not a file directly in the work folder");
  }

  const std::string address = sync::ListAddress("127.0.0.1:8765", fuzz::Text(data, size));
  TORVO_FUZZ_CHECK(fuzz::IsCleanRequestTarget(address), "the list address is not a clean request target");
  return 0;
}
