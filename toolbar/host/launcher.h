#pragma once
// Finding TorvoTool and starting it, on its own, so the browser is not held while it runs.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace torvo::toolbar {

// Tests point the host at another program with this variable; nothing else reads it.
inline constexpr char kTorvoToolVariable[] = "TORVO_TOOLBAR_TORVOTOOL";

// TorvoTool's path: the variable above when set and not empty; else "TorvoTool" beside the
// host's own executable (an installed copy keeps both in one folder); else the first executable
// "TorvoTool" on PATH; else nothing.
std::optional<std::filesystem::path> FindTorvoTool();

// Starts the program with the one argument, without a shell, in a session of its own and with
// standard input and output on /dev/null (they are the pipes to the browser). A picture that is
// not empty goes along in a sealed memory file the program inherits, its descriptor's number in
// kPictureDescriptorVariable; without one that variable is taken out of the program's
// environment. Returns an empty text when it started, else why not.
std::string StartDetached(const std::filesystem::path& program, const std::string& argument,
                          std::string_view picture = {});

// A sealed memory file holding the bytes (close-on-exec), or -1 with errno set.
int SealedMemoryFile(std::string_view bytes);

}  // namespace torvo::toolbar
