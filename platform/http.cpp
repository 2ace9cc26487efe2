#include "platform/http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace torvo {

struct HttpClient::Impl {
  CURL* curl = nullptr;
  HttpTimeouts timeouts;
  const std::atomic<bool>* abort = nullptr;
  // The system's certificate authorities as a folder of hashed names (see SystemCaFolder); empty
  // when there is none, and the bundle file is read as libcurl does by default.
  std::string caFolder;
  // Without the folder: the system's bundle followed by the extra certificates, as a blob replaces
  // the bundle file, and a server with a certificate of a public CA must keep working after the
  // user names their own. With it: the extra certificates alone.
  std::string trustPem;
};

namespace {
struct BodySink {
  std::string* body;
  int64_t limit;
  CURL* curl;
  bool tooLarge = false;
  bool sized = false;
};

size_t Collect(char* data, size_t size, size_t count, void* target) {
  auto* sink = static_cast<BodySink*>(target);
  const size_t n = size * count;
  if (!sink->sized) {
    // The whole body in one allocation where the reply says its length, not a string that
    // doubles and copies its way up.
    sink->sized = true;
    curl_off_t length = -1;
    if (curl_easy_getinfo(sink->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length > 0 &&
        length <= sink->limit) {
      sink->body->reserve(static_cast<size_t>(length));
    }
  }
  if (static_cast<int64_t>(sink->body->size() + n) > sink->limit) {
    sink->tooLarge = true;
    return 0;  // ends the transfer with a write error
  }
  sink->body->append(data, n);
  return n;
}

int CheckAbort(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return flag && static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

HttpResult::Failure FailureOf(CURLcode rc) {
  switch (rc) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
      return HttpResult::Failure::kUnreachable;
    case CURLE_PEER_FAILED_VERIFICATION:
#if LIBCURL_VERSION_NUM < 0x073e00
    case CURLE_SSL_CACERT:
#endif
      return HttpResult::Failure::kUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
      // A plain http server's reply read as a TLS record: "wrong version number" and the like.
      return HttpResult::Failure::kNotTls;
    default:
      return HttpResult::Failure::kOther;
  }
}

struct CurlGlobal {
  CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

// Whether a folder holds certificates under OpenSSL's hashed names ("5ad8a5d6.0").
bool HasHashedNames(const std::string& folder) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const size_t dot = name.find('.');
    if (dot == 8 && name.size() > 9 && std::all_of(name.begin(), name.begin() + 8, [](unsigned char c) { return std::isxdigit(c); }) &&
        std::all_of(name.begin() + 9, name.end(), [](unsigned char c) { return std::isdigit(c); })) {
      return true;
    }
  }
  return false;
}

// The system's certificate authorities as a folder, which OpenSSL reads one certificate at a time
// as a chain asks for it: libcurl's default bundle file, the same certificates, costs every new
// connection some 20 ms to parse (a sync opens four). SSL_CERT_DIR names another folder, as it
// does for OpenSSL's own tools. Empty when there is no such folder.
std::string SystemCaFolder(CURL* c) {
  if (const char* named = std::getenv("SSL_CERT_DIR"); named && *named && HasHashedNames(named)) return named;
  char* folder = nullptr;
  if (curl_easy_getinfo(c, CURLINFO_CAPATH, &folder) == CURLE_OK && folder && HasHashedNames(folder)) return folder;
  return {};
}
}  // namespace

HttpClient::HttpClient(HttpTimeouts timeouts) : impl_(std::make_unique<Impl>()) {
  static CurlGlobal global;
  impl_->curl = curl_easy_init();
  impl_->timeouts = timeouts;
  if (!impl_->curl) return;
  // Looked for once: every connection of a sync makes a client.
  static const std::string systemCaFolder = SystemCaFolder(impl_->curl);
  impl_->caFolder = systemCaFolder;
  if (!impl_->caFolder.empty()) {
    curl_easy_setopt(impl_->curl, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(impl_->curl, CURLOPT_CAPATH, impl_->caFolder.c_str());
  }
}

HttpClient::~HttpClient() {
  if (impl_->curl) curl_easy_cleanup(impl_->curl);
}

void HttpClient::SetAbortFlag(const std::atomic<bool>* abort) { impl_->abort = abort; }

void HttpClient::SetExtraTrustedCertificates(std::string pem) {
  impl_->trustPem.clear();
  if (!impl_->curl) return;
  if (!impl_->caFolder.empty()) {
    // The folder stays as it is; the blob holds the extra certificates alone.
    impl_->trustPem = std::move(pem);
    curl_blob blob{impl_->trustPem.data(), impl_->trustPem.size(), CURL_BLOB_COPY};
    curl_easy_setopt(impl_->curl, CURLOPT_CAINFO_BLOB, impl_->trustPem.empty() ? nullptr : &blob);
    return;
  }
  if (pem.empty()) return;
  char* bundle = nullptr;
  if (curl_easy_getinfo(impl_->curl, CURLINFO_CAINFO, &bundle) == CURLE_OK && bundle) {
    std::ifstream in(bundle, std::ios::binary);
    impl_->trustPem.assign(std::istreambuf_iterator<char>(in), {});
    if (!impl_->trustPem.empty() && impl_->trustPem.back() != '\n') impl_->trustPem += '\n';
  }
  impl_->trustPem += pem;
}

HttpResult HttpClient::Get(const std::string& url) {
  CURL* c = impl_->curl;
  if (c) {
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, nullptr);
  }
  return Perform(url);
}

HttpResult HttpClient::Post(const std::string& url, const std::string& contentType, const std::string& body) {
  CURL* c = impl_->curl;
  curl_slist* headers = nullptr;
  if (c) {
    headers = curl_slist_append(headers, ("Content-Type: " + contentType).c_str());
    // No "Expect: 100-continue" wait for a small form.
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
  }
  HttpResult result = Perform(url);
  if (c) {
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, nullptr);
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  }
  curl_slist_free_all(headers);
  return result;
}

HttpResult HttpClient::Perform(const std::string& url) {
  HttpResult result;
  CURL* c = impl_->curl;
  if (!c) {
    result.failure = HttpResult::Failure::kOther;
    result.error = "the HTTP client could not be started";
    return result;
  }
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
  BodySink sink{&result.body, impl_->timeouts.maxBodyBytes, c};
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
  // An album's picture (tens of KB) comes in one read rather than several.
  curl_easy_setopt(c, CURLOPT_BUFFERSIZE, 128L * 1024);
  curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(impl_->timeouts.maxBodyBytes));
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, impl_->timeouts.connectMs);
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, impl_->timeouts.totalMs);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, (impl_->timeouts.stallMs + 999) / 1000);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  // The service sees no proxy: the address is the whole truth.
  curl_easy_setopt(c, CURLOPT_PROXY, "");
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, impl_->abort ? 0L : 1L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, CheckAbort);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(impl_->abort));
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  if (impl_->caFolder.empty() && !impl_->trustPem.empty()) {
    curl_blob blob{impl_->trustPem.data(), impl_->trustPem.size(), CURL_BLOB_COPY};
    curl_easy_setopt(c, CURLOPT_CAINFO_BLOB, &blob);
  }
  if (impl_->abort && impl_->abort->load()) {
    result.failure = HttpResult::Failure::kOther;
    result.error = "aborted";
    return result;
  }
  CURLcode rc = curl_easy_perform(c);
  if (rc != CURLE_OK) {
    if (sink.tooLarge || rc == CURLE_FILESIZE_EXCEEDED) {
      result.error = "the reply is larger than " + std::to_string(impl_->timeouts.maxBodyBytes >> 20) + " MiB";
    } else {
      result.error = rc == CURLE_ABORTED_BY_CALLBACK ? "aborted" : curl_easy_strerror(rc);
    }
    result.failure = FailureOf(rc);
    if ((rc == CURLE_UNSUPPORTED_PROTOCOL || rc == CURLE_WEIRD_SERVER_REPLY) && url.compare(0, 7, "http://") == 0) {
      // An http:// request answered with TLS bytes reads as HTTP/0.9 or nonsense.
      result.failure = HttpResult::Failure::kSpeaksTls;
      result.error = "the server speaks TLS: the address should begin with https://";
    }
    result.body.clear();
    return result;
  }
  result.transportOk = true;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &result.status);
  MarkTlsServerReply(url, result);
  return result;
}

}  // namespace torvo
