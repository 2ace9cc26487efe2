#pragma once
// An event-driven TCP connection (the upload's): connect to a host and port, an event when the
// connection stands, data sent in order, an event when reply data has arrived. The events come
// from the program's event loop, one at a time; a desktop implements this over its own sockets.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace torvo {

class TcpConnection {
 public:
  virtual ~TcpConnection() = default;

  // Ends any earlier connection at once; no event of it is delivered afterwards.
  virtual void Close() = 0;
  // Starts a connection; Connected or Failed follows.
  virtual void Connect(const std::string& host, uint16_t port) = 0;
  // Starts a TLS connection: Connected follows once the handshake has verified the peer's
  // certificate for host against the system's trusted certificates plus extraTrustedPem (PEM
  // text of more certificates or CAs, may be empty). A certificate that does not verify, a peer
  // that speaks no TLS or a broken handshake reaches Failed, with LastFailure saying which and a
  // text naming the host; no byte of SendData goes out unencrypted. A connection without TLS
  // support fails at once.
  virtual void ConnectTls(const std::string& host, uint16_t port, const std::string& extraTrustedPem) {
    (void)port;
    (void)extraTrustedPem;
    lastFailure_ = FailureKind::kOther;
    if (Failed) Failed("this system's connection to " + host + " cannot use TLS");
  }
  // Queues bytes on the connection, in order; the event loop writes them.
  virtual void SendData(std::string_view bytes) = 0;
  // Takes all bytes that have arrived and are waiting.
  virtual std::string GetData() = 0;

  std::function<void()> Connected;
  std::function<void(int64_t bytesTotal)> DataArrival;
  // The peer closed the connection (the normal end of a reply).
  std::function<void()> Closed;
  // The connection could not be made or broke; text says why, in the platform's words.
  std::function<void(const std::string& text)> Failed;

  // What the last Failed was, for the messages a user needs told apart.
  enum class FailureKind {
    kOther,      // refused, unreachable, broken: the text says
    kUntrusted,  // the peer's certificate did not verify for the host
    kNotTls,     // a TLS connection's peer answered without TLS (a plain http server)
  };
  FailureKind LastFailure() const { return lastFailure_; }

 protected:
  FailureKind lastFailure_ = FailureKind::kOther;
};

}  // namespace torvo
