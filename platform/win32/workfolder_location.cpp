#include "platform/workfolder.h"

namespace torvo {

// The folder the programs were drawn with, on the system drive's letter as written.
std::filesystem::path WorkFolder() { return std::filesystem::path(L"C:\\Torvo"); }

}  // namespace torvo
