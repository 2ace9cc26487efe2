#pragma once
// Faults the service can be told to inject into its replies, so tests can see how the clients
// cope: set at start with --fault and changed at run time through the admin endpoint.
//
//   fault   = exchange ":" kind ["=" value] { "," option "=" value }
//   exchange = folders | upload | list | download
//   kind    = delay=MS | status=CODE | drop[=BYTES] | split=PIECES | huge=BYTES | signedout
//           | notanumber (upload only) | reply=TEXT
//   option  = pause=MS (split) | times=N | match=TEXT
//
// TEXT values are percent-decoded, so they can hold "," and any byte.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvo::service {

enum class Exchange { Folders, Upload, List, Download };

std::string_view ExchangeName(Exchange exchange);
std::optional<Exchange> ParseExchange(std::string_view name);

enum class FaultKind {
  Delay,       // the reply's first byte waits value milliseconds
  Status,      // the reply is an error with status value
  Drop,        // the connection closes after value body bytes (-1: half the body)
  Split,       // the reply goes out in value writes, pauseMs apart
  Huge,        // the reply is made at least value bytes long, still in its exchange's form
  SignedOut,   // the identity is treated as signed out
  NotANumber,  // the upload is answered with a name that is not a number
  Reply,       // the reply's body is replaced by the text reply
};

struct Fault {
  Exchange exchange = Exchange::Folders;
  FaultKind kind = FaultKind::Delay;
  int64_t value = 0;
  int pauseMs = 200;
  int times = 0;       // requests it still applies to; 0: until cleared
  std::string match;   // applies only to requests whose raw target holds this
  std::string reply;   // the body for FaultKind::Reply
};

struct FaultParse {
  std::optional<Fault> fault;
  std::string error;  // why the text is not a fault
};

FaultParse ParseFault(std::string_view text);
std::string FormatFault(const Fault& fault);

// The faults in force; shared by every connection.
class FaultBoard {
 public:
  void Add(Fault fault);
  void Clear(std::optional<Exchange> exchange);  // nothing: all exchanges
  std::vector<Fault> List() const;
  // The faults that apply to this request; each use is counted against its times.
  std::vector<Fault> Take(Exchange exchange, std::string_view rawTarget);

 private:
  mutable std::mutex mutex_;
  std::vector<Fault> faults_;
};

}  // namespace torvo::service
