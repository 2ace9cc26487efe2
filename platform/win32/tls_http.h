#pragma once
// HTTP/1.1 over a TLS channel of our own (Schannel, with this program's check of the server's
// certificate), for the https requests WinINet cannot judge: a certificate only the user's
// connection trusts, or one made out to an IP address. The certificate is checked in the
// handshake, before any byte of a request goes out; a channel is kept for the next request to
// the same host and port, as WinINet keeps its connections.
#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/http.h"
#include "platform/win32/tls_channel.h"

namespace torvo::win32 {

struct TlsHttpRequest {
  std::string host;  // as in the address, without brackets
  uint16_t port = 443;
  std::string method = "GET";
  std::string target;  // path and query, as sent
  std::string contentType;
  std::string body;
};

class TlsHttpConnection {
 public:
  TlsHttpConnection() = default;
  ~TlsHttpConnection();
  TlsHttpConnection(const TlsHttpConnection&) = delete;
  TlsHttpConnection& operator=(const TlsHttpConnection&) = delete;

  // One request and its reply, under the limits, with the failures worded as WinINet's road
  // words them. extraPem: certificates trusted beside the system's.
  HttpResult Exchange(const TlsHttpRequest& request, const std::string& extraPem, const HttpTimeouts& limits,
                      const std::atomic<bool>* abort);

 private:
  void Drop();

  SOCKET socket_ = INVALID_SOCKET;
  std::unique_ptr<TlsChannel> tls_;
  std::string host_;
  uint16_t port_ = 0;
  std::string pem_;
};

}  // namespace torvo::win32
