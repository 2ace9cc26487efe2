#pragma once
// The command line of both programs: the arguments after the program's path, joined with single
// spaces, are the one command-line text (the toolbar's fields for TorvoTool, the identity for
// TorvoSync). It is taken before the toolkit sees the arguments, since none of it is an option.
#include <string>

namespace torvo {

// argv[1] .. argv[argc - 1] joined with single spaces; "" when there are none.
std::string JoinArguments(int argc, const char* const* argv);

}  // namespace torvo
