#include "sync/help_text.h"

namespace torvo::sync {

std::string VersionText(const std::string& version) { return "TorvoSync (Torvo) " + version + "\n"; }

std::string HelpText(const std::string& folder) {
  return "Usage: TorvoSync IDENTITY\n"
         "Shows one window; its Sync button fetches the list of the images in the Torvo album of\n"
         "IDENTITY (the whole command line) and downloads each one missing from " + folder + ".\n"
         "\n"
         "      --help     display this help and exit (as the only argument)\n"
         "      --version  output version information and exit (as the only argument)\n";
}

}  // namespace torvo::sync
