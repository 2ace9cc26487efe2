#include "platform/http.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

#include "platform/win32/tls_channel.h"
#include "platform/win32/tls_http.h"

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

HttpResult::Failure FailureOf(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
      return HttpResult::Failure::kUnreachable;
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
      return HttpResult::Failure::kUntrusted;
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
      return HttpResult::Failure::kNotTls;
    default:
      return HttpResult::Failure::kOther;
  }
}

// A certificate or TLS failure's words name the host, as the upload's do.
std::string SecurityText(DWORD error, const std::string& host) {
  switch (error) {
    case ERROR_INTERNET_INVALID_CA:
      return "the certificate of " + host + " is not trusted (it is not signed by a certificate authority this "
             "computer or the connection trusts)";
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
      return "the certificate of " + host + " is not trusted (it is made out to another name)";
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
      return "the certificate of " + host + " is not trusted (it has expired or is not valid yet)";
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
      return "the certificate of " + host + " is not trusted (Windows error " + std::to_string(error) + ")";
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
      return "the TLS connection with " + host + " failed: it may not speak TLS on this port";
    default: return TransportText(error);
  }
}

// One GET's state, shared with WinINet's status callback, which runs on WinINet's own threads.
// The waits below end on our time-outs and abort flag whatever the transfer does: a blocked
// read of WinINet's never ends on a silent server, neither by its receive time-out nor by
// closing its handle. A transfer given up on may still be written into by WinINet, so its state
// (the buffer and the counts too) lives until WinINet has both completed the operation under way
// and said its handle is gone: Wine's WinINet tells the handle gone first, then writes the count
// of a read it was still doing. (One that never completes keeps its few kilobytes.)
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
  bool abandoned = false;  // given up on with an operation under way
  bool done = false;       // the operation under way has completed
  bool closed = false;     // WinINet has said the request's handle is gone
  DWORD available = 0;
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
      bool last = false;
      {
        std::lock_guard lock(transfer->mutex);
        transfer->result = done->dwResult;
        transfer->error = done->dwError;
        transfer->connected = true;
        transfer->lastProgress = Clock::now();
        transfer->done = true;
        last = transfer->abandoned && transfer->closed;
      }
      SetEvent(transfer->completed);
      if (last) Forget(context);
      break;
    }
    case INTERNET_STATUS_HANDLE_CLOSING: {
      bool last = false;
      {
        std::lock_guard lock(transfer->mutex);
        if (info && *static_cast<const HINTERNET*>(info) == transfer->request) transfer->closed = true;
        last = transfer->closed && transfer->abandoned && transfer->done;
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
  std::string extraPem;  // certificates trusted for https beside the system's
  // The https servers ("host:port") whose certificate WinINet cannot judge: their requests go
  // over our own channel, which checks the certificate before a byte of a request is sent.
  std::set<std::string> ownChannelServers;
  win32::TlsHttpConnection ownChannel;
  // The request Perform makes: Get and Post set it, as the Linux client sets its handle.
  const char* method = "GET";
  std::string contentType;
  std::string body;
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

void HttpClient::SetExtraTrustedCertificates(std::string pem) { impl_->extraPem = std::move(pem); }

HttpResult HttpClient::Get(const std::string& url) {
  impl_->method = "GET";
  impl_->contentType.clear();
  impl_->body.clear();
  HttpResult result = Perform(url);
  MarkTlsServerReply(url, result);
  return result;
}

HttpResult HttpClient::Post(const std::string& url, const std::string& contentType, const std::string& body) {
  impl_->method = "POST";
  impl_->contentType = contentType;
  impl_->body = body;
  HttpResult result = Perform(url);
  impl_->body.clear();
  MarkTlsServerReply(url, result);
  return result;
}

HttpResult HttpClient::Perform(const std::string& url) {
  const char* method = impl_->method;
  const std::string& contentType = impl_->contentType;
  const std::string& body = impl_->body;
  HttpResult result;
  const HttpTimeouts& limits = impl_->timeouts;
  auto aborted = [&] { return impl_->abort && impl_->abort->load(); };
  auto fail = [&](std::string text, HttpResult::Failure failure = HttpResult::Failure::kOther) {
    result.error = std::move(text);
    result.failure = failure;
    result.body.clear();
    return result;
  };
  auto failWith = [&](DWORD error, const std::string& host) { return fail(SecurityText(error, host), FailureOf(error)); };
  if (!impl_->session) return fail("the HTTP client could not be started");
  if (aborted()) return fail("aborted");
  if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0)
    return fail(TransportText(ERROR_INTERNET_UNRECOGNIZED_SCHEME));

  // The address's parts: WinINet connects to the host and sends the path and query as written.
  char hostBuffer[256] = {};
  std::string pathBuffer(url.size() + 1, '\0');
  URL_COMPONENTSA parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = hostBuffer;
  parts.dwHostNameLength = sizeof hostBuffer;
  parts.lpszUrlPath = pathBuffer.data();
  parts.dwUrlPathLength = static_cast<DWORD>(pathBuffer.size());
  if (!InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) || hostBuffer[0] == '\0')
    return fail(TransportText(ERROR_INTERNET_INVALID_URL));
  const std::string host = hostBuffer;
  std::string target(pathBuffer.c_str());
  if (target.empty()) target = "/";
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  const std::string server = host + ":" + std::to_string(parts.nPort);
  auto viaOwnChannel = [&] {
    win32::TlsHttpRequest own;
    own.host = host;
    own.port = parts.nPort;
    own.method = method;
    own.target = target;
    own.contentType = contentType;
    own.body = body;
    return impl_->ownChannel.Exchange(own, impl_->extraPem, limits, impl_->abort);
  };
  if (secure && impl_->ownChannelServers.count(server)) return viaOwnChannel();

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
  // However the request ends, its handles are closed; a transfer left with an operation under
  // way is forgotten only once WinINet lets go of it.
  HINTERNET connection = nullptr;
  struct Closer {
    std::shared_ptr<Transfer> transfer;
    DWORD_PTR context;
    bool& pending;
    HINTERNET& connection;
    ~Closer() {
      HINTERNET request = nullptr;
      {
        std::lock_guard lock(transfer->mutex);
        transfer->abandoned = pending;
        request = transfer->request;
      }
      if (request) InternetCloseHandle(request);
      if (connection) InternetCloseHandle(connection);
      if (!pending) Forget(context);
    }
  } closer{transfer, context, pending, connection};

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
    transfer->done = false;
  };
  auto waitFailure = [&](Wait w) {
    return fail(w == Wait::kAborted ? std::string("aborted") : TransportText(ERROR_INTERNET_TIMEOUT));
  };

  // The connection handle carries no context: only the request's events concern the waits.
  connection = InternetConnectA(impl_->session, host.c_str(), parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  if (!connection) return fail(TransportText(GetLastError()), FailureOf(GetLastError()));
  // Every reply from the wire: no cache, no cookies, no redirect followed, no dialog.
  const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                      INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                      INTERNET_FLAG_KEEP_CONNECTION | (secure ? INTERNET_FLAG_SECURE : 0);
  HINTERNET request = HttpOpenRequestA(connection, method, target.c_str(), "HTTP/1.1", nullptr, nullptr, flags, context);
  if (!request) return fail(TransportText(GetLastError()), FailureOf(GetLastError()));
  {
    std::lock_guard lock(transfer->mutex);
    transfer->request = request;
  }
  if (secure) {
    // Revocation is not checked, as the Linux build's client does not: Wine's first check in a
    // fresh prefix fails with "revocation could not be checked" on a good certificate.
    DWORD security = 0;
    DWORD size = sizeof security;
    InternetQueryOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &security, &size);
    security |= SECURITY_FLAG_IGNORE_REVOCATION;
    InternetSetOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security);
  }

  const std::string headers = contentType.empty() ? std::string() : "Content-Type: " + contentType + "\r\n";
  auto send = [&]() -> std::optional<DWORD> {  // the send's error, nothing when it went
    begin();
    if (HttpSendRequestA(request, headers.empty() ? nullptr : headers.c_str(), static_cast<DWORD>(headers.size()),
                         body.empty() ? nullptr : const_cast<char*>(body.data()), static_cast<DWORD>(body.size()))) {
      return std::nullopt;
    }
    if (GetLastError() != ERROR_IO_PENDING) return GetLastError();
    pending = true;
    if (const Wait w = wait(); w != Wait::kDone) return w == Wait::kAborted ? ERROR_CANCELLED : ERROR_INTERNET_TIMEOUT;
    std::lock_guard lock(transfer->mutex);
    if (transfer->error != ERROR_SUCCESS || !transfer->result) return transfer->error ? transfer->error : ERROR_INTERNET_CONNECTION_ABORTED;
    return std::nullopt;
  };
  std::optional<DWORD> sendError = send();
  if (sendError == ERROR_CANCELLED) return fail("aborted");
  const bool address = win32::IsIpAddress(host);
  const bool ours = secure && ((sendError == ERROR_INTERNET_INVALID_CA && !impl_->extraPem.empty()) ||
                               (sendError == ERROR_INTERNET_SEC_CERT_CN_INVALID && address));
  if (ours) {
    // WinINet knows the system's authorities alone, and Wine's matches no IP address: this
    // server's requests are ours from now on. WinINet refused in the handshake, so nothing of
    // the request has gone; our channel checks the certificate before it sends the request.
    // (Sending it again through WinINet with its checks left out would put the request on a
    // connection whose certificate is judged only once the request has gone.)
    impl_->ownChannelServers.insert(server);
    return viaOwnChannel();
  }
  if (sendError) {
    if (*sendError == ERROR_INTERNET_TIMEOUT) return fail(TransportText(ERROR_INTERNET_TIMEOUT));
    return failWith(*sendError, host);
  }

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
    transfer->available = sizeof transfer->chunk;
    // Once the announced length is in, a read (of nothing) ends the reply. Wine's WinINet hands
    // the connection back for the next request on a read that finds the end; asking whether
    // more is available there instead closes it when the answer comes asynchronously, and the
    // next request opens a second connection.
    const bool whole = hasLength && result.body.size() == announced;
    if (!whole) {
      begin();
      if (!InternetQueryDataAvailable(request, &transfer->available, 0, 0)) {
        if (GetLastError() != ERROR_IO_PENDING) return fail(TransportText(GetLastError()));
        pending = true;
        if (const Wait w = wait(); w != Wait::kDone) return waitFailure(w);
        std::lock_guard lock(transfer->mutex);
        if (transfer->error != ERROR_SUCCESS) return fail(TransportText(transfer->error));
        transfer->available = static_cast<DWORD>(transfer->result);
      }
      if (transfer->available == 0) break;
    }
    const DWORD want = std::min<DWORD>(transfer->available, sizeof transfer->chunk);
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
