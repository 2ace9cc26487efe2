#include "platform/http.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>

namespace torvo {

namespace {
// The same words for the same faults as the Linux build's client, so a message reads alike on
// both systems.
std::string TransportText(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_CONNECTION_ABORTED:
      return "Couldn't connect to server";
    case ERROR_INTERNET_TIMEOUT: return "Timeout was reached";
    case ERROR_INTERNET_NAME_NOT_RESOLVED: return "Couldn't resolve host name";
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME: return "Unsupported protocol";
    case ERROR_INTERNET_INVALID_URL: return "URL using bad/illegal format or missing URL";
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
      return "Failure when receiving data from the peer";
    default: return "Failure when receiving data from the peer (Windows error " + std::to_string(error) + ")";
  }
}

struct Handle {
  HINTERNET h = nullptr;
  explicit Handle(HINTERNET handle = nullptr) : h(handle) {}
  ~Handle() {
    if (h) InternetCloseHandle(h);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
};

void SetTimeout(HINTERNET h, DWORD option, long ms) {
  DWORD value = static_cast<DWORD>(std::max<long>(ms, 1));
  InternetSetOptionW(h, option, &value, sizeof value);
}
}  // namespace

struct HttpClient::Impl {
  Handle session;
  HttpTimeouts timeouts;
  const std::atomic<bool>* abort = nullptr;
};

HttpClient::HttpClient(HttpTimeouts timeouts) : impl_(std::make_unique<Impl>()) {
  impl_->timeouts = timeouts;
  // Straight to the address: the service sees no proxy.
  impl_->session.h = InternetOpenW(L"Torvo", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  if (impl_->session.h) {
    SetTimeout(impl_->session.h, INTERNET_OPTION_CONNECT_TIMEOUT, timeouts.connectMs);
    SetTimeout(impl_->session.h, INTERNET_OPTION_SEND_TIMEOUT, timeouts.stallMs);
    SetTimeout(impl_->session.h, INTERNET_OPTION_RECEIVE_TIMEOUT, timeouts.stallMs);
  }
}

HttpClient::~HttpClient() = default;

void HttpClient::SetAbortFlag(const std::atomic<bool>* abort) { impl_->abort = abort; }

HttpResult HttpClient::Get(const std::string& url) {
  using Clock = std::chrono::steady_clock;
  HttpResult result;
  const HttpTimeouts& limits = impl_->timeouts;
  auto aborted = [&] { return impl_->abort && impl_->abort->load(); };
  auto fail = [&](std::string text) {
    result.error = std::move(text);
    result.body.clear();
    return result;
  };
  if (!impl_->session.h) return fail("the HTTP client could not be started");
  if (aborted()) return fail("aborted");
  if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) return fail(TransportText(ERROR_INTERNET_UNRECOGNIZED_SCHEME));
  const auto deadline = Clock::now() + std::chrono::milliseconds(limits.totalMs);
  auto remainingMs = [&] {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
  };

  // Every reply from the wire: no cache, no cookies, no redirect followed, no dialog.
  const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                      INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                      INTERNET_FLAG_KEEP_CONNECTION;
  Handle request(InternetOpenUrlA(impl_->session.h, url.c_str(), nullptr, 0, flags, 0));
  if (!request.h) return fail(TransportText(GetLastError()));

  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoW(request.h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
    return fail(TransportText(GetLastError()));
  }
  const std::string tooLarge = "the reply is larger than " + std::to_string(limits.maxBodyBytes >> 20) + " MiB";
  DWORD announced = 0;
  size = sizeof announced;
  const bool hasLength =
      HttpQueryInfoW(request.h, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &announced, &size, nullptr);
  if (hasLength && static_cast<int64_t>(announced) > limits.maxBodyBytes) return fail(tooLarge);

  char chunk[16384];
  for (;;) {
    if (aborted()) return fail("aborted");
    const long left = remainingMs();
    if (left <= 0) return fail(TransportText(ERROR_INTERNET_TIMEOUT));
    // No byte for the stall time, or none before the whole time is up, ends the transfer.
    SetTimeout(request.h, INTERNET_OPTION_RECEIVE_TIMEOUT, std::min(left, limits.stallMs));
    DWORD got = 0;
    if (!InternetReadFile(request.h, chunk, sizeof chunk, &got)) return fail(TransportText(GetLastError()));
    if (got == 0) break;
    if (static_cast<int64_t>(result.body.size() + got) > limits.maxBodyBytes) return fail(tooLarge);
    result.body.append(chunk, got);
  }
  // A connection that closes before the announced length is a dropped body, not a short reply.
  if (hasLength && result.body.size() != announced) return fail("Transferred a partial file");
  result.transportOk = true;
  result.status = static_cast<long>(status);
  return result;
}

}  // namespace torvo
