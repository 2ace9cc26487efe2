#include "sync/image_list.h"

#include "platform/codepage.h"
#include "platform/http.h"
#include "platform/text.h"

namespace torvo::sync {

std::string ListAddress(std::string_view serviceHost, std::u16string_view commandLine) {
  return ListUrl("http://" + std::string(serviceHost) + "/", commandLine);
}

std::string ListUrl(std::string_view serviceUrl, std::u16string_view commandLine) {
  std::string address(serviceUrl);
  address += "imgList.php?tid=";
  address += ToCp949(commandLine);
  return EscapeRequestTarget(address);
}

ImageList ParseImageList(std::string_view replyBytes) {
  ImageList list;
  if (replyBytes == "0") {
    list.signedOut = true;
    return list;
  }
  std::vector<std::u16string> fields = SplitFields(std::u16string_view(FromCp949(replyBytes)), u"|");
  list.baseAddress = std::move(fields[0]);
  list.names.assign(std::make_move_iterator(fields.begin() + 1), std::make_move_iterator(fields.end()));
  return list;
}

bool IsUsableBaseAddress(std::u16string_view base) {
  if (base.find(u'\uFFFD') != std::u16string_view::npos) return false;
  for (std::u16string_view scheme : {u"http://", u"https://"}) {
    if (base.size() > scheme.size() && base.substr(0, scheme.size()) == scheme) return true;
  }
  return false;
}

std::string DownloadAddress(std::u16string_view baseAddress, std::u16string_view name) {
  std::string name949;
  for (char b : ToCp949(name)) {
    switch (b) {
      case '%': name949 += "%25"; break;
      case '?': name949 += "%3F"; break;
      case '#': name949 += "%23"; break;
      default: name949 += b;
    }
  }
  return EscapeRequestTarget(ToCp949(baseAddress) + "/" + name949 + ".png");
}

}  // namespace torvo::sync
