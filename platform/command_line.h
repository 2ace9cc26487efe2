#pragma once
// The command line of both programs: the arguments after the program's path, joined with single
// spaces, are the one command-line text (the toolbar's fields for TorvoTool, the identity for
// TorvoSync). It is taken before the toolkit sees the arguments, since none of it is an option.
#include <string>
#include <string_view>

namespace torvo {

// argv[1] .. argv[argc - 1] joined with single spaces; "" when there are none.
std::string JoinArguments(int argc, const char* const* argv);

// Windows gives a program its whole command line as one text: what follows the program's token
// is the command-line text, as the C runtime hands it to WinMain. The token runs to the next
// space or tab, or, when it starts with a quote, to the next quote; the spaces and tabs after it
// are skipped and the rest is kept as it stands.
std::u16string AfterProgramToken(std::u16string_view commandLine);

}  // namespace torvo
