#pragma once
// TLS for a client over bytes that someone else carries (the upload's Winsock socket, the https
// requests' own channel): Schannel through SSPI. The peer's certificate is checked here, not by
// Schannel: Wine's Schannel completes a handshake with a certificate nobody trusts even when
// asked to validate it.
#include <windows.h>
#include <wincrypt.h>
#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include <security.h>
#include <schannel.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvo::win32 {

// Whether host is an IPv4 or IPv6 address rather than a name.
bool IsIpAddress(const std::string& host);

// The certificates of PEM text ("-----BEGIN CERTIFICATE-----" blocks), each as DER bytes;
// anything between the blocks is passed over.
std::vector<std::string> PemCertificates(std::string_view pem);

// Whether certificate (with the intermediates its store holds) is good for a TLS server named
// host: a chain to a root the system trusts or to one of the extra certificates (PEM), valid
// today, naming host. Nothing when it is; else why not, a sentence naming the host.
std::optional<std::string> CheckServerCertificate(PCCERT_CONTEXT certificate, const std::string& host,
                                                  const std::string& extraPem);

class TlsChannel {
 public:
  enum class State { kHandshake, kOpen, kClosed, kFailed };

  // host is the name the certificate must carry (and the SNI name).
  TlsChannel(std::string host, std::string extraPem);
  ~TlsChannel();
  TlsChannel(const TlsChannel&) = delete;
  TlsChannel& operator=(const TlsChannel&) = delete;

  // Starts the handshake; the first bytes to send are appended to *wire.
  void Start(std::string* wire);
  // Bytes from the peer: a handshake's answers go to *wire, the plain bytes of an open channel
  // to *plain. kOpen after the handshake and its certificate check have passed; kClosed once
  // the peer said close_notify; kFailed with error() saying why.
  State Receive(std::string_view bytes, std::string* wire, std::string* plain);
  // The records carrying plain bytes, appended to *wire (only while kOpen).
  bool Encrypt(std::string_view plain, std::string* wire);
  // Our close_notify, appended to *wire (only while kOpen).
  void Shutdown(std::string* wire);

  State state() const { return state_; }
  const std::string& host() const { return host_; }
  const std::string& error() const { return error_; }
  // The DER bytes of the server's certificate once the handshake has completed.
  const std::string& peerCertificate() const { return peerCertificate_; }
  // What kind of failure kFailed was.
  enum class Fault { kNone, kUntrusted, kNotTls, kOther };
  Fault fault() const { return fault_; }

 private:
  void Handshake(std::string* wire);
  void Decrypt(std::string* wire, std::string* plain);
  void Fail(std::string text, Fault fault = Fault::kOther);

  std::string host_;
  std::string extraPem_;
  State state_ = State::kHandshake;
  std::string error_;
  Fault fault_ = Fault::kNone;
  std::string pending_;  // received bytes not yet a whole record
  std::string peerCertificate_;
  bool haveCredentials_ = false;
  bool haveContext_ = false;
  CredHandle credentials_{};
  CtxtHandle context_{};
  unsigned long header_ = 0, trailer_ = 0, maxMessage_ = 0;
};

}  // namespace torvo::win32
