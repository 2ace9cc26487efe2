#pragma once
// The image list exchange: the address the sync asks, the reply it gets back, and the address of
// each image download.
#include <string>
#include <string_view>
#include <vector>

namespace torvo::sync {

// "http://" + host + "/imgList.php?tid=" + the command-line text, as a valid request target
// (code page 949 bytes; a space becomes "%20").
std::string ListAddress(std::string_view serviceHost, std::u16string_view commandLine);

// The same at the user's own service: serviceUrl is its address ("https://host/torvo/").
std::string ListUrl(std::string_view serviceUrl, std::u16string_view commandLine);

struct ImageList {
  bool signedOut = false;            // the reply was exactly "0"
  std::u16string baseAddress;        // field 0, used unchanged
  std::vector<std::u16string> names; // fields 1..n, in sync order; empty names are items too
};

// Decodes the reply from code page 949 and splits it at every "|". A reply without "|" (also an
// empty one) has no items.
ImageList ParseImageList(std::string_view replyBytes);

// Whether the base address can be fetched from: "http://" or "https://" and something after it,
// every character readable.
bool IsUsableBaseAddress(std::u16string_view baseAddress);

// base + "/" + name + ".png" as a valid request target. Inside the name "%", "?" and "#" are
// escaped as well, so that every name reaches the server as the one file it names.
std::string DownloadAddress(std::u16string_view baseAddress, std::u16string_view name);

}  // namespace torvo::sync
