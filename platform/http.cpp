#include "platform/http.h"

#include <curl/curl.h>

namespace torvo {

struct HttpClient::Impl {
  CURL* curl = nullptr;
  HttpTimeouts timeouts;
  const std::atomic<bool>* abort = nullptr;
};

namespace {
struct BodySink {
  std::string* body;
  int64_t limit;
  bool tooLarge = false;
};

size_t Collect(char* data, size_t size, size_t count, void* target) {
  auto* sink = static_cast<BodySink*>(target);
  const size_t n = size * count;
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

struct CurlGlobal {
  CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};
}  // namespace

HttpClient::HttpClient(HttpTimeouts timeouts) : impl_(std::make_unique<Impl>()) {
  static CurlGlobal global;
  impl_->curl = curl_easy_init();
  impl_->timeouts = timeouts;
}

HttpClient::~HttpClient() {
  if (impl_->curl) curl_easy_cleanup(impl_->curl);
}

void HttpClient::SetAbortFlag(const std::atomic<bool>* abort) { impl_->abort = abort; }

HttpResult HttpClient::Get(const std::string& url) {
  HttpResult result;
  CURL* c = impl_->curl;
  if (!c) {
    result.error = "the HTTP client could not be started";
    return result;
  }
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
  BodySink sink{&result.body, impl_->timeouts.maxBodyBytes};
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
  if (impl_->abort && impl_->abort->load()) {
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
    result.body.clear();
    return result;
  }
  result.transportOk = true;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &result.status);
  return result;
}

}  // namespace torvo
