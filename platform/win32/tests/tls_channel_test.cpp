// The check of a TLS server's certificate that the upload's Schannel connection and WinINet's
// https rely on: the system's roots plus the connection's own certificates, the host's name.
// The certificates were made once with openssl (P-256, valid for a hundred years): two CAs, a
// server certificate of the first for localhost and 127.0.0.1, a self-signed one for the same.
// Wine's chain policy passes a chain that reaches no root and matches no IP address: both cases
// are here.
#include "platform/win32/tls_channel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace torvo::win32 {
namespace {

constexpr char kCaOne[] = R"(-----BEGIN CERTIFICATE-----
MIIBoDCCAUWgAwIBAgIUHNswi8H3ZYo9Z2GLW/KHfD8H+7UwCgYIKoZIzj0EAwIw
HDEaMBgGA1UEAwwRVG9ydm8gVGVzdCBDQSBPbmUwIBcNMjYxMjA5MTQ0MjE5WhgP
MjEyNjExMTUxNDQyMTlaMBwxGjAYBgNVBAMMEVRvcnZvIFRlc3QgQ0EgT25lMFkw
EwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE6eqn+8Tpx87jNJkTB+3VN8h3hR84srCS
euP2tUvU+IoJ2SlNbC8DylpskQsZpmQAR4rwEYh/JEiAzmjcCH8dx6NjMGEwHQYD
VR0OBBYEFCar53gFzHsU/3TG06C/zlnGKzv9MB8GA1UdIwQYMBaAFCar53gFzHsU
/3TG06C/zlnGKzv9MA8GA1UdEwEB/wQFMAMBAf8wDgYDVR0PAQH/BAQDAgEGMAoG
CCqGSM49BAMCA0kAMEYCIQDElWZvpwwZfqGB/JX/7HJ9/KruteOFYrelNNvW5FXV
tAIhAIK4D9cUruTMJ5s3NBEiQkTUlYwP05cs9phX0iXgfIYA
-----END CERTIFICATE-----
)";

constexpr char kCaTwo[] = R"(-----BEGIN CERTIFICATE-----
MIIBoDCCAUWgAwIBAgIUUyfbYRrYxyLYUtEPgI8bbNILuBkwCgYIKoZIzj0EAwIw
HDEaMBgGA1UEAwwRVG9ydm8gVGVzdCBDQSBUd28wIBcNMjYxMjA5MTQ0MjIwWhgP
MjEyNjExMTUxNDQyMjBaMBwxGjAYBgNVBAMMEVRvcnZvIFRlc3QgQ0EgVHdvMFkw
EwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEQv1xCc14pSiG4RqaRjyVtBpv80Xwmh5H
i5zTdzhGGltj2XlOVwOfKhJ23n1E6n395y+La3Ilgbn/cKY2qmBc3aNjMGEwHQYD
VR0OBBYEFOPW5X4/4RzeuiOs36Oyd55vGFEWMB8GA1UdIwQYMBaAFOPW5X4/4Rze
uiOs36Oyd55vGFEWMA8GA1UdEwEB/wQFMAMBAf8wDgYDVR0PAQH/BAQDAgEGMAoG
CCqGSM49BAMCA0kAMEYCIQDVwHuDSo6DmpKqaV8rEtas85LlF3g4254/1bdbHHM5
jAIhAJQJYL3INrhPUi0qlbzVLbyHGZ9MSyM80nhh3EM2CETd
-----END CERTIFICATE-----
)";

constexpr char kLeafOfCaOne[] = R"(-----BEGIN CERTIFICATE-----
MIIBsjCCAVigAwIBAgIUNlzznEAk+fHHlsGbOvDUwTcCqnowCgYIKoZIzj0EAwIw
HDEaMBgGA1UEAwwRVG9ydm8gVGVzdCBDQSBPbmUwIBcNMjYxMjA5MTQ0MjIxWhgP
MjEyNjExMTUxNDQyMjFaMBQxEjAQBgNVBAMMCWxvY2FsaG9zdDBZMBMGByqGSM49
AgEGCCqGSM49AwEHA0IABPn+52Npf0saaFgX7nTT/VC5Pk7OgxJZd9XAkrdZ7Ozv
GldSYyXMc5iHAFrBoOrEgwGuPlcJbOeGTaH/b2lYPRSjfjB8MBoGA1UdEQQTMBGC
CWxvY2FsaG9zdIcEfwAAATATBgNVHSUEDDAKBggrBgEFBQcDATAJBgNVHRMEAjAA
MB0GA1UdDgQWBBSWKJB1kaVATJK1JTq98zgbGnI8TDAfBgNVHSMEGDAWgBQmq+d4
Bcx7FP90xtOgv85Zxis7/TAKBggqhkjOPQQDAgNIADBFAiAPL7e5Ap5ABluFpDC4
RAFAaIMvk+b6GTwEl/I7HlKC4AIhAKgP2+UqVZht304MtaXwfM+4OJCCjaeVYG3d
lVSiGd+f
-----END CERTIFICATE-----
)";

constexpr char kSelfSigned[] = R"(-----BEGIN CERTIFICATE-----
MIIBmjCCAUGgAwIBAgIUTms3luzZpMk0G4Zymc7s/ZjdKUswCgYIKoZIzj0EAwIw
FDESMBAGA1UEAwwJbG9jYWxob3N0MCAXDTI2MTIwOTE0NDIyMVoYDzIxMjYxMTE1
MTQ0MjIxWjAUMRIwEAYDVQQDDAlsb2NhbGhvc3QwWTATBgcqhkjOPQIBBggqhkjO
PQMBBwNCAASa5TyY1NA/3GkCZ9GyAxBzr0UD3SUP33KcLw4MBZPpB2tGKVOaLEJn
hr+uVJOrtmAAt0maVJRtg1CzfPDcXmWoo28wbTAdBgNVHQ4EFgQUockLN4gEHsun
rbaYe7elciIVy6gwHwYDVR0jBBgwFoAUockLN4gEHsunrbaYe7elciIVy6gwDwYD
VR0TAQH/BAUwAwEB/zAaBgNVHREEEzARgglsb2NhbGhvc3SHBH8AAAEwCgYIKoZI
zj0EAwIDRwAwRAIgOEZxsZLZn0xTOonJurW0CnsUXzhdxP3Q57XEtKcVzlkCIAel
SQJXceIAMjK1isMgAyOQwVzR30xbQzebp1M4Ar0G
-----END CERTIFICATE-----
)";

struct Certificate {
  explicit Certificate(const char* pem) {
    const std::vector<std::string> der = PemCertificates(pem);
    if (der.size() == 1)
      context = CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der[0].data()),
                                             static_cast<DWORD>(der[0].size()));
  }
  ~Certificate() {
    if (context) CertFreeCertificateContext(context);
  }
  PCCERT_CONTEXT context = nullptr;
};

TEST(PemCertificates, EveryBlockOnceAndNothingElse) {
  const std::string two = std::string("# the CA\n") + kCaOne + "junk\n" + kCaTwo;
  EXPECT_EQ(PemCertificates(two).size(), 2u);
  EXPECT_EQ(PemCertificates("no certificate here").size(), 0u);
  // A block cut short is no certificate.
  EXPECT_EQ(PemCertificates(std::string(kCaOne).substr(0, 200)).size(), 0u);
}

TEST(CheckServerCertificate, TrustsTheConnectionsCertificatesForTheirNameOnly) {
  struct Case {
    const char* what;
    const char* server;
    std::string extra;
    const char* host;
    const char* problem;  // nullptr: trusted; else a part of the reason
  } cases[] = {
      {"the connection's CA", kLeafOfCaOne, kCaOne, "localhost", nullptr},
      {"the connection's CA, among others", kLeafOfCaOne, std::string(kCaTwo) + kCaOne, "localhost", nullptr},
      {"the address as the name", kLeafOfCaOne, kCaOne, "127.0.0.1", nullptr},
      {"the server's own certificate", kSelfSigned, kSelfSigned, "localhost", nullptr},
      {"no certificate of the connection", kLeafOfCaOne, "", "localhost", "not trusted"},
      {"another CA", kLeafOfCaOne, kCaTwo, "localhost", "not trusted"},
      {"a self-signed server alone", kSelfSigned, "", "localhost", "not trusted"},
      {"another CA's self-signed server", kSelfSigned, kCaOne, "localhost", "not trusted"},
      {"another name", kLeafOfCaOne, kCaOne, "torvo.example.org", "another name"},
      {"another address", kLeafOfCaOne, kCaOne, "127.0.0.2", "another name"},
  };
  for (const Case& c : cases) {
    Certificate server(c.server);
    ASSERT_NE(server.context, nullptr) << c.what;
    const std::optional<std::string> problem = CheckServerCertificate(server.context, c.host, c.extra);
    if (!c.problem) {
      EXPECT_EQ(problem, std::nullopt) << c.what;
      continue;
    }
    ASSERT_TRUE(problem.has_value()) << c.what << ": trusted";
    EXPECT_NE(problem->find(c.problem), std::string::npos) << c.what << ": " << *problem;
    EXPECT_NE(problem->find(c.host), std::string::npos) << c.what << ": names no host: " << *problem;
  }
}

}  // namespace
}  // namespace torvo::win32
