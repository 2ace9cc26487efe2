#pragma once
// Finding TorvoTool and starting it, on its own, so the browser is not held while it runs.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "toolbar/host/toolbar_request.h"

namespace torvo::toolbar {

// Tests point the host at another program with this variable; nothing else reads it.
inline constexpr char kTorvoToolVariable[] = "TORVO_TOOLBAR_TORVOTOOL";

// TorvoTool's path: the variable above when set and not empty; else "TorvoTool" beside the
// host's own executable (an installed copy keeps both in one folder); else the first executable
// "TorvoTool" on PATH; else nothing.
std::optional<std::filesystem::path> FindTorvoTool();

// A refusal when the system cannot pass the line to the program: Windows takes at most 32767
// characters of command line, program path included, which a long note in code page 949's
// percent-encoding can pass. Linux's argument room is far beyond the fields' own limits.
std::optional<Refusal> CheckLineFits(const std::filesystem::path& program, const std::string& line);

// Starts the program with the one line, without a shell, on its own: not the host's child in the
// browser's session (Linux) or job (Windows), with no standard input or output of the host's
// (they are the pipes to the browser). On Linux the line is the one argument; on Windows the
// command line is `"<program>" <line>`, so the text after the program's token is the line itself.
// A picture that is not empty goes along in memory only the program inherits: a sealed memory
// file, its descriptor's number in kPictureDescriptorVariable (Linux); a read-only file mapping,
// its handle's value in kPictureHandleVariable (Windows). Without one that variable is taken out
// of the program's environment. Returns an empty text when it started, else why not.
std::string StartDetached(const std::filesystem::path& program, const std::string& line,
                          std::string_view picture = {});

#ifdef _WIN32
// An unnamed, pagefile-backed file mapping holding the picture after its length (the layout of
// platform/picture_handover.h), as an inheritable handle that can only read it: no handle that
// could write it is left open. Nothing (GetLastError set) when the system refuses.
void* ReadOnlyPictureMapping(std::string_view bytes);
#else
// A sealed memory file holding the bytes (close-on-exec), or -1 with errno set.
int SealedMemoryFile(std::string_view bytes);
#endif

}  // namespace torvo::toolbar
