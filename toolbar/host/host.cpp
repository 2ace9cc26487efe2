#include "toolbar/host/host.h"

#include <nlohmann/json.hpp>

#include <variant>

#include "toolbar/host/command_line.h"
#include "toolbar/host/launcher.h"

namespace torvo::toolbar {

namespace {

using nlohmann::json;

std::string Answer(const std::optional<Refusal>& refusal) {
  json answer = refusal ? json{{"ok", false}, {"code", refusal->code}, {"message", refusal->message}}
                        : json{{"ok", true}};
  // Refusals may quote bytes of the message; whatever they hold, the answer stays valid JSON.
  return answer.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

std::optional<Refusal> DetachedToolStarter::Start(const std::string& commandLine, std::string_view picture) {
  auto program = FindTorvoTool();
  if (!program) {
    return Refusal{"not_found", "TorvoTool was not found beside torvo-toolbar-host or on PATH."};
  }
  if (auto refusal = CheckLineFits(*program, commandLine)) return refusal;
  std::string error = StartDetached(*program, commandLine, picture);
  if (!error.empty()) return Refusal{"start_failed", "TorvoTool could not be started: " + error + "."};
  return std::nullopt;
}

std::string HandleMessage(std::string_view message, ToolStarter& starter) {
  auto request = ParseRequest(message);
  if (auto* refusal = std::get_if<Refusal>(&request)) return Answer(*refusal);
  const auto& fields = std::get<ToolbarRequest>(request);
  auto line = BuildCommandLine(fields);
  if (auto* refusal = std::get_if<Refusal>(&line)) return Answer(*refusal);
  return Answer(starter.Start(std::get<std::string>(line), fields.picture));
}

int RunHost(ByteSource& input, ByteSink& output, ToolStarter& starter) {
  for (;;) {
    Frame frame = ReadFrame(input);
    switch (frame.kind) {
      case Frame::Kind::kEnd:
        return 0;
      case Frame::Kind::kBroken:
        output.Write(EncodeFrame(Answer(Refusal{"bad_frame", frame.error})));
        return 1;
      case Frame::Kind::kMessage:
        if (!output.Write(EncodeFrame(HandleMessage(frame.body, starter)))) return 1;
        break;
    }
  }
}

}  // namespace torvo::toolbar
