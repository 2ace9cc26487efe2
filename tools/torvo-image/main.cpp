// torvo-image: the imaging library on the command line, for people and scripts.
#include <cstdio>
#include <iostream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/cImageProcessDIB.h"
#include "platform/error.h"
#include "platform/executable.h"
#include "platform/paths.h"
#include "torvo_version.h"
#include "tools/torvo-image/operations.h"
#include "tools/torvo-image/picture_io.h"
#include "tools/torvo-image/progress_bar.h"

namespace torvo::image_tool {
namespace {

std::string Usage() {
  std::ostringstream out;
  out << "usage: torvo-image [--events] OPERATION ARGS... INPUT OUTPUT\n"
         "\n"
         "Runs one operation of the imaging library on the picture INPUT and writes the result to\n"
         "OUTPUT. INPUT and picture arguments are BMP or PNG files (converted to 24 bits; any\n"
         "transparency is dropped). OUTPUT ends in .bmp or .png and is written as 24 bits, by way\n"
         "of a temporary file, so a failed run leaves no output. Operations that need no output\n"
         "(clipboard) take \"-\" as OUTPUT.\n"
         "\n"
         "Operations:\n";
  for (const Operation& o : Operations()) {
    std::string head = "  " + o.name + " " + o.arguments;
    out << head << "\n      " << o.summary << "\n";
  }
  out << "\n"
         "Options:\n"
         "  --events   print the processor's events to standard output, one a line:\n"
         "             \"InitProgress N\", \"Progress N\", \"Complete\" (no time, so runs compare)\n"
         "  --help     print this text\n"
         "  --version  print the version\n"
         "\n"
         "Exit status: 0 done; 1 the library raised an error, printed to standard error as\n"
         "\"torvo-image: error NUMBER: DESCRIPTION\" with NUMBER in signed decimal as the error\n"
         "carries it (0x8004051A is -2147220198; run-time errors are 6, 9, 11), or a picture could\n"
         "not be read or written; 2 bad arguments.\n";
  return out.str();
}

int Run(const std::vector<std::string>& args) {
  bool printEvents = false;
  size_t first = 0;
  for (; first < args.size() && args[first].rfind("--", 0) == 0; ++first) {
    if (args[first] == "--events") {
      printEvents = true;
    } else if (args[first] == "--help") {
      std::cout << Usage();
      return 0;
    } else if (args[first] == "--version") {
      std::cout << "torvo-image (Torvo) " << TORVO_VERSION << "\n";
      return 0;
    } else if (args[first] == "--") {
      ++first;
      break;
    } else {
      throw UsageError("unknown option " + args[first]);
    }
  }
  if (first < args.size() && args[first] == "-h") {
    std::cout << Usage();
    return 0;
  }
  if (args.size() - first < 3) throw UsageError("OPERATION, INPUT and OUTPUT are needed");
  const Operation* operation = FindOperation(args[first]);
  if (!operation) throw UsageError("unknown operation \"" + args[first] + "\"");
  const std::string& input = args[args.size() - 2];
  const std::string& output = args[args.size() - 1];
  const bool noOutput = operation->outputOptional && output == "-";
  if (!noOutput && !IsWritablePictureName(PathFromUtf8(output))) {
    throw UsageError("OUTPUT \"" + output + "\" must end in .bmp or .png");
  }

  cImageProcessDIB processor;
  Invocation invocation({args.begin() + static_cast<std::ptrdiff_t>(first) + 1, args.end() - 2}, processor);
  if (operation->check) operation->check(invocation);
  invocation.SetImage(LoadPicture(PathFromUtf8(input)));
  if (printEvents) {
    processor.events.InitProgress = [](int32_t lMax) { std::printf("InitProgress %d\n", lMax); };
    processor.events.Progress = [](int32_t lPosition) { std::printf("Progress %d\n", lPosition); };
    processor.events.Complete = [](int32_t) { std::printf("Complete\n"); };
  }
  {
    // Long runs on big pictures show a bar on a terminal, whatever the operation.
    ProgressBar bar(processor, invocation.image());
    operation->run(invocation);
  }
  std::fflush(stdout);
  if (!noOutput) SavePicture(invocation.output(), PathFromUtf8(output));
  return 0;
}

}  // namespace
}  // namespace torvo::image_tool

int main(int argc, char** argv) {
  using namespace torvo::image_tool;
  const std::vector<std::string> args = torvo::ProgramArguments(argc, argv);
  try {
    return Run(args);
  } catch (const UsageError& e) {
    std::fflush(stdout);
    std::cerr << "torvo-image: " << e.what() << "\n\n" << Usage();
    return 2;
  } catch (const torvo::TorvoError& e) {
    std::fflush(stdout);
    std::cerr << "torvo-image: error " << e.number() << ": " << e.description() << "\n";
    return 1;
  } catch (const PictureError& e) {
    std::fflush(stdout);
    std::cerr << "torvo-image: " << e.what() << "\n";
    return 1;
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    std::cerr << "torvo-image: not enough memory\n";
    return 1;
  }
}
