#include "toolbar/host/host.h"

#include <nlohmann/json.hpp>

#include <variant>

#include <system_error>
#include <utility>

#include "toolbar/host/command_line.h"
#include "toolbar/host/connect_request.h"
#include "toolbar/host/launcher.h"
#include "toolbar/host/picture_member.h"

namespace torvo::toolbar {

namespace {

using nlohmann::json;

std::string Answer(const std::optional<Refusal>& refusal) {
  json answer = refusal ? json{{"ok", false}, {"code", refusal->code}, {"message", refusal->message}}
                        : json{{"ok", true}};
  // Refusals may quote bytes of the message; whatever they hold, the answer stays valid JSON.
  return answer.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string Dump(const json& answer) { return answer.dump(-1, ' ', false, json::error_handler_t::replace); }

std::filesystem::path CertificateFile(const std::filesystem::path& connectionFile) {
  return connectionFile.parent_path() / "certificate.pem";
}

// Connect: the service is asked first; only a connection it accepted is written, the named
// certificate beside the file.
std::string Connect(const ConnectRequest& request, const ConnectionPlace& place) {
  ServiceConnector& connector = *place.connector;
  ConnectOutcome outcome =
      request.toolbarId.empty()
          ? connector.SignIn(request.service, request.name, request.password,
                             request.device.empty() ? "browser" : request.device, request.certificate)
          : connector.Check(request.service, request.toolbarId, request.certificate);
  if (outcome.kind != ConnectOutcome::Kind::kConnected) {
    return Answer(Refusal{OutcomeCode(outcome.kind), outcome.message});
  }
  ServiceConnection connection;
  connection.service = request.service;
  connection.identity = outcome.identity;
  if (!request.certificate.empty()) {
    std::filesystem::path certificate = CertificateFile(place.file);
    std::error_code ignored;
    std::filesystem::create_directories(place.file.parent_path(), ignored);
    if (auto problem = CreatePrivateFile(certificate, request.certificate)) {
      return Answer(Refusal{"write_failed", "The certificate could not be saved: " + *problem});
    }
    connection.certificate = certificate.string();
  }
  if (auto problem = WriteConnection(place.file, connection)) {
    return Answer(Refusal{"write_failed", "The connection could not be saved: " + *problem});
  }
  return Dump(json{{"ok", true}, {"name", outcome.name}, {"folders", outcome.folders},
                   {"identity", outcome.identity}, {"service", request.service.Url()}});
}

// Forget: the device is revoked where the service can be reached, and the file goes either way.
std::string Forget(const ConnectionPlace& place) {
  ConnectionFile current = ReadConnection(place.file);
  bool revoked = false;
  if (current.state == ConnectionFile::State::kRead) {
    std::string problem;
    auto pem = ReadCertificatePem(current.connection, &problem);
    revoked = place.connector->SignOut(current.connection.service, current.connection.identity, pem.value_or(""));
  }
  std::error_code error;
  std::filesystem::remove(place.file, error);
  if (error) return Answer(Refusal{"write_failed", "The connection file could not be removed: " + error.message()});
  std::filesystem::remove(CertificateFile(place.file), error);
  return Dump(json{{"ok", true}, {"revoked", revoked}});
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

std::string HandleMessage(std::string text, ToolStarter& starter, const ConnectionPlace& place) {
  const std::optional<MessageWithoutPicture> parts = TakeOutPicture(text);
  json message = json::parse(parts ? std::string_view(parts->rest) : std::string_view(text), nullptr,
                             /*allow_exceptions=*/false);
  if (message.is_discarded()) return Answer(Refusal{"bad_json", "The message is not valid JSON."});
  if (message.is_object() && message.contains("type")) {
    auto options = ParseOptionsRequest(message);
    if (auto* refusal = std::get_if<Refusal>(&options)) return Answer(*refusal);
    if (!place.connector || place.file.empty()) {
      return Answer(Refusal{"no_connection_file", "This system names no folder for the connection file."});
    }
    if (auto* connect = std::get_if<ConnectRequest>(&options)) return Connect(*connect, place);
    return Forget(place);
  }
  auto request = ParseRequestJson(message, parts ? std::optional(parts->picture) : std::nullopt, &text);
  if (auto* refusal = std::get_if<Refusal>(&request)) return Answer(*refusal);
  const auto& fields = std::get<ToolbarRequest>(request);
  auto line = BuildCommandLine(fields);
  if (auto* refusal = std::get_if<Refusal>(&line)) return Answer(*refusal);
  return Answer(starter.Start(std::get<std::string>(line), fields.picture));
}

int RunHost(ByteSource& input, ByteSink& output, ToolStarter& starter, const ConnectionPlace& place) {
  for (;;) {
    Frame frame = ReadFrame(input);
    switch (frame.kind) {
      case Frame::Kind::kEnd:
        return 0;
      case Frame::Kind::kBroken:
        output.Write(EncodeFrame(Answer(Refusal{"bad_frame", frame.error})));
        return 1;
      case Frame::Kind::kMessage:
        if (!output.Write(EncodeFrame(HandleMessage(std::move(frame.body), starter, place)))) return 1;
        break;
    }
  }
}

}  // namespace torvo::toolbar
