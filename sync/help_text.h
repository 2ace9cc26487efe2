#pragma once
// What TorvoSync says for --help and --version, the same on every system but for where the
// album is kept.
#include <string>

namespace torvo::sync {

// "TorvoSync (Torvo) <version>"
std::string VersionText(const std::string& version);
// The usage; folder is the work folder as the user knows it ("~/Torvo", "C:\Torvo\").
std::string HelpText(const std::string& folder);

}  // namespace torvo::sync
