#pragma once
// The host's conversation with the browser: each message is checked, turned into TorvoTool's
// command line and carried out, and answered with success or the reason why not.
#include <optional>
#include <string>
#include <string_view>

#include <filesystem>

#include "toolbar/host/message_framing.h"
#include "toolbar/host/service_connector.h"
#include "toolbar/host/toolbar_request.h"

namespace torvo::toolbar {

// What starts TorvoTool: the real one below, a recording one in tests and the fuzzer.
class ToolStarter {
 public:
  virtual ~ToolStarter() = default;
  // Starts TorvoTool with the command-line text and, when not empty, the PNG of the page handed
  // over beside it; nothing on success.
  virtual std::optional<Refusal> Start(const std::string& commandLine, std::string_view picture) = 0;
};

// Finds TorvoTool (beside the host, then PATH, or the test variable) and starts it detached.
class DetachedToolStarter final : public ToolStarter {
 public:
  std::optional<Refusal> Start(const std::string& commandLine, std::string_view picture) override;
};

// What the options page's messages reach: the service, and the user's connection file (the
// certificate the user named is kept beside it, as certificate.pem).
struct ConnectionPlace {
  ServiceConnector* connector = nullptr;  // nullptr: connect and forget are refused
  std::filesystem::path file;             // the connection file
};

// The answer to one message as JSON: {"ok":true}, or {"ok":false,"code":...,"message":...}.
// A message with a "type" is the options page's: connect answers {"ok":true,"name":...,
// "folders":N,"identity":...,"service":...} once the connection is saved, forget
// {"ok":true,"revoked":...} once it is gone. The message's memory is used up: the picture's
// bytes are decoded over its text.
std::string HandleMessage(std::string json, ToolStarter& starter, const ConnectionPlace& place = {});

// Answers messages until the stream ends. Returns the exit status: 0 after a clean end, 1 when
// the stream broke (after answering why) or the answer could not be written.
int RunHost(ByteSource& input, ByteSink& output, ToolStarter& starter, const ConnectionPlace& place = {});

}  // namespace torvo::toolbar
