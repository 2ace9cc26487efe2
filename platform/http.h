#pragma once
// Blocking HTTP GET of an absolute address, returning the whole body. One client keeps its
// connection open between requests where the server allows it.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace torvo {

struct HttpResult {
  // Why a transport failed, where a user is to be told apart.
  enum class Failure {
    kNone,
    kOther,        // time-out, dropped body, bad address: error says
    kUnreachable,  // no connection to the host could be made (refused, no route, unknown name)
    kUntrusted,    // https: the server's certificate did not verify for the host
    kNotTls,       // https: the server answered without TLS (a plain http server)
    kSpeaksTls,    // http: the server answered with TLS (the address should be https)
  };
  bool transportOk = false;  // false: no connection, time-out, dropped body, bad address
  long status = 0;           // HTTP status when transportOk
  std::string body;          // the bytes as received
  std::string error;         // what went wrong when !transportOk, in plain words
  Failure failure = Failure::kNone;  // when !transportOk (last, so older brace lists still fit)
  bool Success() const { return transportOk && status >= 200 && status < 300; }
};

struct HttpTimeouts {
  long connectMs = 10000;
  long totalMs = 30000;
  // A transfer slower than 1 byte/s for this long is dropped, whatever its total time.
  long stallMs = 15000;
  // A reply body larger than this is refused as a transport failure instead of filling memory.
  int64_t maxBodyBytes = int64_t{64} << 20;
};

// A blocking GET, as the callers that only read a page see it; HttpClient is the real one, and
// another desktop's client or a test's stand-in may take its place.
class HttpGetter {
 public:
  virtual ~HttpGetter() = default;
  // url must already be a valid request target (see EscapeRequestTarget).
  virtual HttpResult Get(const std::string& url) = 0;
  // PEM text of certificates (a self-signed server's or its CA's) trusted for https beside the
  // system's own; empty: the system's alone. A getter without it trusts the system's alone.
  virtual void SetExtraTrustedCertificates(std::string pem) { (void)pem; }
};

class HttpClient final : public HttpGetter {
 public:
  explicit HttpClient(HttpTimeouts timeouts = {});
  ~HttpClient() override;
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  HttpResult Get(const std::string& url) override;
  // A POST of body with the given Content-Type (a form's "application/x-www-form-urlencoded").
  HttpResult Post(const std::string& url, const std::string& contentType, const std::string& body);

  void SetExtraTrustedCertificates(std::string pem) override;

  // While *abort is true, a running or later Get ends soon as a transport failure ("aborted"),
  // so a window can close without waiting for a slow server. nullptr: never aborts.
  void SetAbortFlag(const std::atomic<bool>* abort);

 private:
  HttpResult Perform(const std::string& url);

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Makes an address safe as an HTTP request target: a space, a control character (0x00..0x1F,
// 0x7F) or a byte at or above 0x80 becomes "%" and two uppercase hexadecimal digits; every other
// byte passes unchanged. Input is the address's bytes (code page 949 for the programs' text).
std::string EscapeRequestTarget(const std::string& bytes);

// An http:// request's reply that is a TLS server's answer to plain text (a TLS alert's bytes,
// or a proxy's "plain HTTP request was sent to HTTPS port" page) becomes the transport failure
// kSpeaksTls: the address should have been https. Every client calls it on its results.
void MarkTlsServerReply(const std::string& url, HttpResult& result);

}  // namespace torvo
