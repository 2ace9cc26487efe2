#pragma once
// The running program as the system knows it: its file and its command-line arguments, both in
// the system's own terms and handed on as UTF-8.
#include <filesystem>
#include <string>
#include <vector>

namespace torvo {

// The program's own executable file; empty when the system cannot say.
std::filesystem::path ExecutablePath();

// The arguments after the program's path, as UTF-8. argc and argv are main's: on Linux they are
// the arguments' bytes; on Windows they are ignored for the wide command line, which keeps every
// character whatever the ANSI code page.
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace torvo
