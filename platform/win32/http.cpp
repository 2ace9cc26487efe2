#include "platform/http.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>

namespace torvo {

namespace {

using Clock = std::chrono::steady_clock;

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

// One GET's state, shared with WinINet's status callback, which runs on WinINet's own threads.
// The waits below end on our time-outs and abort flag whatever the transfer does: a blocked
// read of WinINet's never ends on a silent server, neither by its receive time-out nor by
// closing its handle. A transfer given up on may still be written into by WinINet, so its state
// (the buffer too) lives until WinINet says its handle is gone.
struct Transfer {
  Transfer() : completed(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Transfer() {
    if (completed) CloseHandle(completed);
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  HANDLE completed;  // set when the operation under way has completed
  std::mutex mutex;
  HINTERNET request = nullptr;  // as soon as WinINet has made it
  DWORD_PTR result = 0;
  DWORD error = ERROR_SUCCESS;
  bool connected = false;
  bool abandoned = false;
  Clock::time_point lastProgress = Clock::now();
  DWORD got = 0;
  char chunk[16384];
};

// The transfers the callback may still hear about, by the context number WinINet hands back.
std::mutex transfersMutex;
std::map<DWORD_PTR, std::shared_ptr<Transfer>>& Transfers() {
  static std::map<DWORD_PTR, std::shared_ptr<Transfer>> transfers;
  return transfers;
}
DWORD_PTR nextContext = 1;

std::shared_ptr<Transfer> Find(DWORD_PTR context) {
  std::lock_guard lock(transfersMutex);
  auto it = Transfers().find(context);
  return it == Transfers().end() ? nullptr : it->second;
}

void Forget(DWORD_PTR context) {
  std::shared_ptr<Transfer> last;
  std::lock_guard lock(transfersMutex);
  auto it = Transfers().find(context);
  if (it == Transfers().end()) return;
  last = std::move(it->second);
  Transfers().erase(it);
}

void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, void* info, DWORD) {
  std::shared_ptr<Transfer> transfer = Find(context);
  if (!transfer) return;
  switch (status) {
    case INTERNET_STATUS_HANDLE_CREATED: {
      const auto* made = static_cast<const INTERNET_ASYNC_RESULT*>(info);
      bool closeNow = false;
      {
        std::lock_guard lock(transfer->mutex);
        transfer->request = reinterpret_cast<HINTERNET>(made->dwResult);
        closeNow = transfer->abandoned;
      }
      // Made after the caller had given up: nobody else will close it.
      if (closeNow) InternetCloseHandle(reinterpret_cast<HINTERNET>(made->dwResult));
      break;
    }
    // Connected, or sending on a connection kept open: from here on the stall time counts.
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
    case INTERNET_STATUS_SENDING_REQUEST:
    case INTERNET_STATUS_REQUEST_SENT:
    case INTERNET_STATUS_RESPONSE_RECEIVED: {
      std::lock_guard lock(transfer->mutex);
      transfer->connected = true;
      transfer->lastProgress = Clock::now();
      break;
    }
    case INTERNET_STATUS_REQUEST_COMPLETE: {
      const auto* done = static_cast<const INTERNET_ASYNC_RESULT*>(info);
      {
        std::lock_guard lock(transfer->mutex);
        transfer->result = done->dwResult;
        transfer->error = done->dwError;
        transfer->connected = true;
        transfer->lastProgress = Clock::now();
      }
      SetEvent(transfer->completed);
      break;
    }
    case INTERNET_STATUS_HANDLE_CLOSING: {
      bool last = false;
      {
        std::lock_guard lock(transfer->mutex);
        last = info && *static_cast<const HINTERNET*>(info) == transfer->request && transfer->abandoned;
      }
      if (last) Forget(context);
      break;
    }
    default: break;
  }
  (void)handle;
}

void SetTimeout(HINTERNET h, DWORD option, long ms) {
  DWORD value = static_cast<DWORD>(std::max<long>(ms, 1));
  InternetSetOptionW(h, option, &value, sizeof value);
}

long MsUntil(Clock::time_point when) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count());
}

}  // namespace

struct HttpClient::Impl {
  HINTERNET session = nullptr;
  HttpTimeouts timeouts;
  const std::atomic<bool>* abort = nullptr;
};

HttpClient::HttpClient(HttpTimeouts timeouts) : impl_(std::make_unique<Impl>()) {
  impl_->timeouts = timeouts;
  // Straight to the address: the service sees no proxy. Asynchronous, so every wait is ours.
  impl_->session = InternetOpenW(L"Torvo", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, INTERNET_FLAG_ASYNC);
  if (impl_->session) {
    InternetSetStatusCallbackW(impl_->session, &StatusCallback);
    // WinINet's own limits stay behind ours, as a back-stop.
    SetTimeout(impl_->session, INTERNET_OPTION_CONNECT_TIMEOUT, timeouts.connectMs + 1000);
    SetTimeout(impl_->session, INTERNET_OPTION_SEND_TIMEOUT, timeouts.stallMs + 1000);
    SetTimeout(impl_->session, INTERNET_OPTION_RECEIVE_TIMEOUT, timeouts.stallMs + 1000);
  }
}

HttpClient::~HttpClient() {
  if (impl_->session) InternetCloseHandle(impl_->session);
}

void HttpClient::SetAbortFlag(const std::atomic<bool>* abort) { impl_->abort = abort; }

// Placeholders until WinINet's https with the connection's certificates and the sign-in's POST
// are built here: nothing is trusted beyond the system's, and a POST fails as a transport failure.
void HttpClient::SetExtraTrustedCertificates(std::string pem) { (void)pem; }

HttpResult HttpClient::Post(const std::string& url, const std::string& contentType, const std::string& body) {
  (void)url;
  (void)contentType;
  (void)body;
  HttpResult result;
  result.failure = HttpResult::Failure::kOther;
  result.error = "POST is not available on this system yet";
  return result;
}

HttpResult HttpClient::Get(const std::string& url) {
  HttpResult result;
  const HttpTimeouts& limits = impl_->timeouts;
  auto aborted = [&] { return impl_->abort && impl_->abort->load(); };
  auto fail = [&](std::string text) {
    result.error = std::move(text);
    result.body.clear();
    return result;
  };
  if (!impl_->session) return fail("the HTTP client could not be started");
  if (aborted()) return fail("aborted");
  if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0)
    return fail(TransportText(ERROR_INTERNET_UNRECOGNIZED_SCHEME));

  auto transfer = std::make_shared<Transfer>();
  if (!transfer->completed) return fail("the HTTP client could not be started");
  DWORD_PTR context = 0;
  {
    std::lock_guard lock(transfersMutex);
    context = nextContext++;
    Transfers()[context] = transfer;
  }
  const Clock::time_point started = Clock::now();
  const Clock::time_point deadline = started + std::chrono::milliseconds(limits.totalMs);
  bool pending = false;  // an operation WinINet has not completed yet
  // However the GET ends, its handle is closed; a transfer left with an operation under way is
  // forgotten only once WinINet lets go of it.
  struct Closer {
    std::shared_ptr<Transfer> transfer;
    DWORD_PTR context;
    bool& pending;
    ~Closer() {
      HINTERNET request = nullptr;
      {
        std::lock_guard lock(transfer->mutex);
        transfer->abandoned = pending;
        request = transfer->request;
      }
      if (request) InternetCloseHandle(request);
      if (!pending) Forget(context);
    }
  } closer{transfer, context, pending};

  // Waits for the operation under way: done, or why it did not complete in time.
  enum class Wait { kDone, kAborted, kTimedOut };
  auto wait = [&]() -> Wait {
    for (;;) {
      if (WaitForSingleObject(transfer->completed, 20) == WAIT_OBJECT_0) {
        pending = false;
        return Wait::kDone;
      }
      if (aborted()) return Wait::kAborted;
      Clock::time_point limit = deadline;
      {
        std::lock_guard lock(transfer->mutex);
        limit = std::min(limit, transfer->connected
                                    ? transfer->lastProgress + std::chrono::milliseconds(limits.stallMs)
                                    : started + std::chrono::milliseconds(limits.connectMs));
      }
      if (MsUntil(limit) <= 0) return Wait::kTimedOut;
    }
  };
  auto begin = [&] {
    ResetEvent(transfer->completed);
    std::lock_guard lock(transfer->mutex);
    transfer->error = ERROR_SUCCESS;
    transfer->result = 0;
  };
  auto waitFailure = [&](Wait w) {
    return fail(w == Wait::kAborted ? std::string("aborted") : TransportText(ERROR_INTERNET_TIMEOUT));
  };

  // Every reply from the wire: no cache, no cookies, no redirect followed, no dialog.
  const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                      INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                      INTERNET_FLAG_KEEP_CONNECTION;
  begin();
  HINTERNET opened = InternetOpenUrlA(impl_->session, url.c_str(), nullptr, 0, flags, context);
  if (opened) {
    std::lock_guard lock(transfer->mutex);
    transfer->request = opened;
  } else {
    if (GetLastError() != ERROR_IO_PENDING) return fail(TransportText(GetLastError()));
    pending = true;
    if (const Wait w = wait(); w != Wait::kDone) return waitFailure(w);
    std::lock_guard lock(transfer->mutex);
    if (transfer->error != ERROR_SUCCESS || !transfer->result) return fail(TransportText(transfer->error));
    transfer->request = reinterpret_cast<HINTERNET>(transfer->result);
  }
  HINTERNET request = transfer->request;

  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
    return fail(TransportText(GetLastError()));
  }
  const std::string tooLarge = "the reply is larger than " + std::to_string(limits.maxBodyBytes >> 20) + " MiB";
  DWORD announced = 0;
  size = sizeof announced;
  const bool hasLength =
      HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &announced, &size, nullptr);
  if (hasLength && static_cast<int64_t>(announced) > limits.maxBodyBytes) return fail(tooLarge);

  for (;;) {
    if (aborted()) return fail("aborted");
    if (MsUntil(deadline) <= 0) return fail(TransportText(ERROR_INTERNET_TIMEOUT));
    // First wait until bytes are there (or the reply has ended), then read what is there: a
    // read of bytes already received completes at once.
    DWORD available = 0;
    begin();
    if (!InternetQueryDataAvailable(request, &available, 0, 0)) {
      if (GetLastError() != ERROR_IO_PENDING) return fail(TransportText(GetLastError()));
      pending = true;
      if (const Wait w = wait(); w != Wait::kDone) return waitFailure(w);
      std::lock_guard lock(transfer->mutex);
      if (transfer->error != ERROR_SUCCESS) return fail(TransportText(transfer->error));
      available = static_cast<DWORD>(transfer->result);
    }
    if (available == 0) break;
    const DWORD want = std::min<DWORD>(available, sizeof transfer->chunk);
    begin();
    transfer->got = 0;
    if (!InternetReadFile(request, transfer->chunk, want, &transfer->got)) {
      if (GetLastError() != ERROR_IO_PENDING) return fail(TransportText(GetLastError()));
      pending = true;
      if (const Wait w = wait(); w != Wait::kDone) return waitFailure(w);
      std::lock_guard lock(transfer->mutex);
      if (transfer->error != ERROR_SUCCESS) return fail(TransportText(transfer->error));
    }
    if (transfer->got == 0) break;
    if (static_cast<int64_t>(result.body.size() + transfer->got) > limits.maxBodyBytes) return fail(tooLarge);
    result.body.append(transfer->chunk, transfer->got);
    std::lock_guard lock(transfer->mutex);
    transfer->lastProgress = Clock::now();
  }
  // A connection that closes before the announced length is a dropped body, not a short reply.
  if (hasLength && result.body.size() != announced) return fail("Transferred a partial file");
  result.transportOk = true;
  result.status = static_cast<long>(status);
  return result;
}

}  // namespace torvo
