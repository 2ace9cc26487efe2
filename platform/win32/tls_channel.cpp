#include "platform/win32/tls_channel.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/win32/system_message.h"

namespace torvo::win32 {

namespace {

// The SSL policy's checks left out (the same bits as WinINet's security flags).
constexpr DWORD kIgnoreUnknownCa = 0x00000100;
constexpr DWORD kIgnoreNameMismatch = 0x00001000;

// For host an IP address: whether the certificate names it among its IP address entries.
// Nothing when host is a name.
std::optional<bool> AddressMatches(PCCERT_CONTEXT certificate, const std::string& host) {
  unsigned char address[16] = {};
  size_t size = 0;
  if (InetPtonA(AF_INET, host.c_str(), address) == 1) {
    size = 4;
  } else if (InetPtonA(AF_INET6, host.c_str(), address) == 1) {
    size = 16;
  } else {
    return std::nullopt;
  }
  const CERT_EXTENSION* names = CertFindExtension(szOID_SUBJECT_ALT_NAME2, certificate->pCertInfo->cExtension,
                                                  certificate->pCertInfo->rgExtension);
  if (!names) return false;
  CERT_ALT_NAME_INFO* info = nullptr;
  DWORD infoSize = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, names->Value.pbData, names->Value.cbData,
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, &info, &infoSize))
    return false;
  bool found = false;
  for (DWORD i = 0; i < info->cAltEntry && !found; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = info->rgAltEntry[i];
    found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == size &&
            std::memcmp(entry.IPAddress.pbData, address, size) == 0;
  }
  LocalFree(info);
  return found;
}

std::wstring WideAscii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

struct StoreCloser {
  void operator()(void* store) const { CertCloseStore(static_cast<HCERTSTORE>(store), 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

struct ChainFreer {
  void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFreer>;

bool SameCertificate(PCCERT_CONTEXT a, const std::string& der) {
  return a->cbCertEncoded == der.size() && std::memcmp(a->pbCertEncoded, der.data(), der.size()) == 0;
}

// The SSL policy's verdict on chain for host; 0 when it holds.
DWORD PolicyError(PCCERT_CHAIN_CONTEXT chain, const std::wstring& host, DWORD ignore) {
  HTTPSPolicyCallbackData https{};
  https.cbStruct = sizeof https;
  https.dwAuthType = AUTHTYPE_SERVER;
  https.fdwChecks = ignore;
  https.pwszServerName = const_cast<wchar_t*>(host.c_str());
  CERT_CHAIN_POLICY_PARA para{};
  para.cbSize = sizeof para;
  para.pvExtraPolicyPara = &https;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &para, &status)) return GetLastError();
  return status.dwError;
}

std::string CertificateProblem(const std::string& host, DWORD error) {
  switch (error) {
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
    case static_cast<DWORD>(TRUST_E_CERT_SIGNATURE):
      return "the certificate of " + host + " is not trusted (it is not signed by a certificate authority this "
             "computer or the connection trusts)";
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
      return "the certificate of " + host + " is not trusted (it is made out to another name)";
    case static_cast<DWORD>(CERT_E_EXPIRED):
      return "the certificate of " + host + " is not trusted (it has expired or is not valid yet)";
    default:
      return "the certificate of " + host + " is not trusted (" + SystemMessage(error) + ")";
  }
}

// Why a handshake failed: a server that answers in plain HTTP is the common mistake.
std::string HandshakeProblem(const std::string& host, SECURITY_STATUS status, std::string_view first) {
  if (first.size() >= 4 && (first.substr(0, 5) == "HTTP/" || first.substr(0, 4) == "<htm" || first.substr(0, 4) == "<!DO"))
    return host + " does not speak TLS on this port (it answered in plain HTTP)";
  if (!first.empty() && first[0] != 0x16 && first[0] != 0x15)
    return host + " does not speak TLS on this port";
  return "the TLS handshake with " + host + " failed (" + SystemMessage(static_cast<DWORD>(status)) + ")";
}

}  // namespace

bool IsIpAddress(const std::string& host) {
  unsigned char address[16];
  return InetPtonA(AF_INET, host.c_str(), address) == 1 || InetPtonA(AF_INET6, host.c_str(), address) == 1;
}

std::vector<std::string> PemCertificates(std::string_view pem) {
  static constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  static constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  std::vector<std::string> found;
  for (size_t at = 0;;) {
    const size_t begin = pem.find(kBegin, at);
    if (begin == std::string_view::npos) break;
    const size_t end = pem.find(kEnd, begin);
    if (end == std::string_view::npos) break;
    const std::string block(pem.substr(begin, end + kEnd.size() - begin));
    at = end + kEnd.size();
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                              &size, nullptr, nullptr))
      continue;
    std::string der(size, '\0');
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                              reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr))
      continue;
    der.resize(size);
    found.push_back(std::move(der));
  }
  return found;
}

std::optional<std::string> CheckServerCertificate(PCCERT_CONTEXT certificate, const std::string& host,
                                                  const std::string& extraPem) {
  if (!certificate) return "the server " + host + " showed no certificate";
  // The intermediates the server sent and the connection's own certificates, beside the system's.
  Store store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
  if (!store) return "the certificate of " + host + " could not be checked (" + SystemMessage(GetLastError()) + ")";
  if (certificate->hCertStore) {
    for (PCCERT_CONTEXT sent = nullptr; (sent = CertEnumCertificatesInStore(certificate->hCertStore, sent));)
      CertAddCertificateContextToStore(store.get(), sent, CERT_STORE_ADD_USE_EXISTING, nullptr);
  }
  const std::vector<std::string> extra = PemCertificates(extraPem);
  for (const std::string& der : extra) {
    CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                     static_cast<DWORD>(der.size()), CERT_STORE_ADD_USE_EXISTING, nullptr);
  }

  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  LPSTR serverAuth = const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = &serverAuth;
  PCCERT_CHAIN_CONTEXT made = nullptr;
  if (!CertGetCertificateChain(nullptr, certificate, nullptr, store.get(), &para, 0, nullptr, &made))
    return "the certificate of " + host + " could not be checked (" + SystemMessage(GetLastError()) + ")";
  const Chain chain(made);
  if (chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) return CertificateProblem(host, CERT_E_CHAINING);

  // The chain's own verdict first: Wine's SSL policy passes a chain that reaches no root at all.
  // Revocation is not asked for; its "unknown" is no fault.
  constexpr DWORD kNoRoot = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN;
  const DWORD faults = chain->TrustStatus.dwErrorStatus &
                       ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
  if (faults & CERT_TRUST_IS_NOT_TIME_VALID) return CertificateProblem(host, CERT_E_EXPIRED);
  if (faults & ~kNoRoot) return CertificateProblem(host, static_cast<DWORD>(CERT_E_CHAINING));
  DWORD ignore = 0;
  if (faults & kNoRoot) {
    // Not the system's trust: the chain must reach one of the connection's certificates, which
    // is then trusted as a root; every other part of the check stays in force.
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    bool reachesExtra = false;
    for (DWORD i = 0; i < simple->cElement && !reachesExtra; ++i) {
      for (const std::string& der : extra)
        reachesExtra = reachesExtra || SameCertificate(simple->rgpElement[i]->pCertContext, der);
    }
    if (!reachesExtra) return CertificateProblem(host, static_cast<DWORD>(CERT_E_UNTRUSTEDROOT));
    ignore |= kIgnoreUnknownCa;
  }
  // Wine's policy matches DNS names only: an address is matched here, on the certificate's
  // IP address entries, and the policy's name check is then left out.
  if (const std::optional<bool> matches = AddressMatches(certificate, host)) {
    if (!*matches) return CertificateProblem(host, static_cast<DWORD>(CERT_E_CN_NO_MATCH));
    ignore |= kIgnoreNameMismatch;
  }
  if (const DWORD error = PolicyError(chain.get(), WideAscii(host), ignore); error != 0)
    return CertificateProblem(host, error);
  return std::nullopt;
}

TlsChannel::TlsChannel(std::string host, std::string extraPem) : host_(std::move(host)), extraPem_(std::move(extraPem)) {}

TlsChannel::~TlsChannel() {
  if (haveContext_) DeleteSecurityContext(&context_);
  if (haveCredentials_) FreeCredentialsHandle(&credentials_);
}

void TlsChannel::Fail(std::string text, Fault fault) {
  state_ = State::kFailed;
  fault_ = fault;
  error_ = std::move(text);
  pending_.clear();
}

void TlsChannel::Start(std::string* wire) {
  SCHANNEL_CRED settings{};
  settings.dwVersion = SCHANNEL_CRED_VERSION;
  // The certificate is checked below, by this program; no client certificate is offered.
  settings.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
  TimeStamp expiry;
  const SECURITY_STATUS status =
      AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                &settings, nullptr, nullptr, &credentials_, &expiry);
  if (status != SEC_E_OK) return Fail("TLS is not available (" + SystemMessage(static_cast<DWORD>(status)) + ")");
  haveCredentials_ = true;
  Handshake(wire);
}

void TlsChannel::Handshake(std::string* wire) {
  constexpr DWORD kWants = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                           ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                           ISC_REQ_MANUAL_CRED_VALIDATION;
  std::wstring target = WideAscii(host_);
  for (;;) {
    const bool first = !haveContext_;
    if (!first && pending_.empty()) return;  // waiting for the server's next flight
    SecBuffer in[2] = {};
    in[0].BufferType = SECBUFFER_TOKEN;
    in[0].cbBuffer = static_cast<unsigned long>(pending_.size());
    in[0].pvBuffer = pending_.data();
    in[1].BufferType = SECBUFFER_EMPTY;
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
    SecBuffer out[1] = {};
    out[0].BufferType = SECBUFFER_TOKEN;
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
    unsigned long got = 0;
    const std::string firstBytes = pending_.substr(0, 16);
    const SECURITY_STATUS status =
        InitializeSecurityContextW(&credentials_, first ? nullptr : &context_, target.data(), kWants, 0, 0,
                                   first ? nullptr : &inDesc, 0, &context_, &outDesc, &got, nullptr);
    if (first && (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK)) haveContext_ = true;
    if (out[0].pvBuffer) {
      if (out[0].cbBuffer > 0) wire->append(static_cast<const char*>(out[0].pvBuffer), out[0].cbBuffer);
      FreeContextBuffer(out[0].pvBuffer);
    }
    if (status == SEC_E_INCOMPLETE_MESSAGE) return;  // the rest of the record is on its way
    if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
      const bool notTls = !firstBytes.empty() && firstBytes[0] != 0x16 && firstBytes[0] != 0x15;
      return Fail(HandshakeProblem(host_, status, firstBytes), notTls ? Fault::kNotTls : Fault::kOther);
    }
    if (!first) {
      // What the call did not take belongs to the next step (or is already application data).
      if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0 && in[1].cbBuffer <= pending_.size())
        pending_.erase(0, pending_.size() - in[1].cbBuffer);
      else
        pending_.clear();
    }
    if (status == SEC_I_CONTINUE_NEEDED) {
      if (first) return;
      continue;
    }
    break;
  }

  // The handshake is done: the certificate decides whether anything goes over it.
  PCCERT_CONTEXT certificate = nullptr;
  if (QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK)
    certificate = nullptr;
  if (certificate)
    peerCertificate_.assign(reinterpret_cast<const char*>(certificate->pbCertEncoded), certificate->cbCertEncoded);
  const std::optional<std::string> problem = CheckServerCertificate(certificate, host_, extraPem_);
  if (certificate) CertFreeCertificateContext(certificate);
  if (problem) return Fail(*problem, Fault::kUntrusted);
  SecPkgContext_StreamSizes sizes{};
  if (const SECURITY_STATUS status = QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes);
      status != SEC_E_OK)
    return Fail("the TLS connection with " + host_ + " failed (" + SystemMessage(static_cast<DWORD>(status)) + ")");
  header_ = sizes.cbHeader;
  trailer_ = sizes.cbTrailer;
  maxMessage_ = sizes.cbMaximumMessage;
  state_ = State::kOpen;
}

TlsChannel::State TlsChannel::Receive(std::string_view bytes, std::string* wire, std::string* plain) {
  if (state_ == State::kFailed || state_ == State::kClosed) return state_;
  pending_.append(bytes);
  if (state_ == State::kHandshake && !pending_.empty()) {
    // A server that answers a handshake with anything but TLS records (a plain http server's
    // "HTTP/1.1 400") is told at once: Schannel may wait for the rest of a "record" that never comes.
    const unsigned char type = static_cast<unsigned char>(pending_[0]);
    if (type < 0x14 || type > 0x17) {
      Fail(HandshakeProblem(host_, SEC_E_ILLEGAL_MESSAGE, pending_.substr(0, 16)), Fault::kNotTls);
      return state_;
    }
  }
  if (state_ == State::kHandshake) Handshake(wire);
  if (state_ == State::kOpen) Decrypt(wire, plain);
  return state_;
}

void TlsChannel::Decrypt(std::string* wire, std::string* plain) {
  while (!pending_.empty() && state_ == State::kOpen) {
    SecBuffer buffers[4] = {};
    buffers[0].BufferType = SECBUFFER_DATA;
    buffers[0].cbBuffer = static_cast<unsigned long>(pending_.size());
    buffers[0].pvBuffer = pending_.data();
    for (int i = 1; i < 4; ++i) buffers[i].BufferType = SECBUFFER_EMPTY;
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = DecryptMessage(&context_, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return;
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED)
      return Fail("the TLS connection with " + host_ + " broke (" + SystemMessage(static_cast<DWORD>(status)) + ")");
    std::string extra;
    for (const SecBuffer& b : buffers) {
      if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0) plain->append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
      if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer > 0) extra.assign(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
    }
    pending_ = std::move(extra);
    if (status == SEC_I_CONTEXT_EXPIRED) {  // the peer's close_notify
      state_ = State::kClosed;
      pending_.clear();
      return;
    }
    if (status == SEC_I_RENEGOTIATE) {
      // A message of the handshake protocol after the handshake (a TLS 1.3 session ticket, a key
      // update): the context takes it, then the records go on.
      state_ = State::kHandshake;
      Handshake(wire);
    }
  }
}

bool TlsChannel::Encrypt(std::string_view plain, std::string* wire) {
  if (state_ != State::kOpen) return false;
  while (!plain.empty()) {
    const size_t piece = std::min<size_t>(plain.size(), maxMessage_);
    std::string record(header_ + piece + trailer_, '\0');
    std::memcpy(record.data() + header_, plain.data(), piece);
    SecBuffer buffers[4] = {};
    buffers[0] = {header_, SECBUFFER_STREAM_HEADER, record.data()};
    buffers[1] = {static_cast<unsigned long>(piece), SECBUFFER_DATA, record.data() + header_};
    buffers[2] = {trailer_, SECBUFFER_STREAM_TRAILER, record.data() + header_ + piece};
    buffers[3].BufferType = SECBUFFER_EMPTY;
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    if (const SECURITY_STATUS status = EncryptMessage(&context_, 0, &desc, 0); status != SEC_E_OK) {
      Fail("the TLS connection with " + host_ + " broke (" + SystemMessage(static_cast<DWORD>(status)) + ")");
      return false;
    }
    wire->append(static_cast<const char*>(buffers[0].pvBuffer), buffers[0].cbBuffer);
    wire->append(static_cast<const char*>(buffers[1].pvBuffer), buffers[1].cbBuffer);
    wire->append(static_cast<const char*>(buffers[2].pvBuffer), buffers[2].cbBuffer);
    plain.remove_prefix(piece);
  }
  return true;
}

void TlsChannel::Shutdown(std::string* wire) {
  if (state_ != State::kOpen) return;
  DWORD type = SCHANNEL_SHUTDOWN;
  SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
  SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
  state_ = State::kClosed;
  if (ApplyControlToken(&context_, &controlDesc) != SEC_E_OK) return;
  SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
  unsigned long got = 0;
  std::wstring target = WideAscii(host_);
  InitializeSecurityContextW(&credentials_, &context_, target.data(),
                             ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                 ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM,
                             0, 0, nullptr, 0, &context_, &outDesc, &got, nullptr);
  if (out.pvBuffer) {
    wire->append(static_cast<const char*>(out.pvBuffer), out.cbBuffer);
    FreeContextBuffer(out.pvBuffer);
  }
}

}  // namespace torvo::win32
