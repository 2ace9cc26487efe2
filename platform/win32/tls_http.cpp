#include "platform/win32/tls_http.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <optional>

#include "platform/http_reply.h"

namespace torvo::win32 {

namespace {

using Clock = std::chrono::steady_clock;

// The words of WinINet's road (and of the Linux build's client) for the same faults.
constexpr char kNoConnection[] = "Couldn't connect to server";
constexpr char kTimeout[] = "Timeout was reached";
constexpr char kNoName[] = "Couldn't resolve host name";
constexpr char kBroken[] = "Failure when receiving data from the peer";

bool WinsockStarted() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

long MsUntil(Clock::time_point when) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count());
}

enum class Ready { kYes, kAborted, kTimedOut, kError };

// Waits until the socket can be read (or written) in short slices, so an abort is seen soon.
Ready WaitFor(SOCKET s, bool write, Clock::time_point limit, const std::atomic<bool>* abort) {
  for (;;) {
    if (abort && abort->load()) return Ready::kAborted;
    const long ms = MsUntil(limit);
    if (ms <= 0) return Ready::kTimedOut;
    fd_set ready;
    fd_set failed;  // a connect that failed shows here
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval slice{0, static_cast<long>(std::min(ms, 50L) * 1000)};
    const int n = select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &slice);
    if (n < 0) return Ready::kError;
    if (n > 0) return Ready::kYes;
  }
}

std::string HostHeader(const std::string& host, uint16_t port) {
  std::string name = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return port == 443 ? name : name + ":" + std::to_string(port);
}

}  // namespace

TlsHttpConnection::~TlsHttpConnection() { Drop(); }

void TlsHttpConnection::Drop() {
  if (socket_ != INVALID_SOCKET) {
    // Our close_notify, as far as the socket takes it at once: the end is ours either way.
    if (tls_ && tls_->state() == TlsChannel::State::kOpen) {
      std::string notify;
      tls_->Shutdown(&notify);
      if (!notify.empty()) send(socket_, notify.data(), static_cast<int>(notify.size()), 0);
    }
    closesocket(socket_);
  }
  socket_ = INVALID_SOCKET;
  tls_.reset();
}

HttpResult TlsHttpConnection::Exchange(const TlsHttpRequest& request, const std::string& extraPem,
                                       const HttpTimeouts& limits, const std::atomic<bool>* abort) {
  HttpResult result;
  auto fail = [&](std::string text, HttpResult::Failure failure = HttpResult::Failure::kOther) {
    Drop();
    result = HttpResult{};
    result.error = std::move(text);
    result.failure = failure;
    return result;
  };
  if (!WinsockStarted()) return fail("the HTTP client could not be started");
  if (abort && abort->load()) return fail("aborted");
  const Clock::time_point started = Clock::now();
  const Clock::time_point deadline = started + std::chrono::milliseconds(limits.totalMs);
  Clock::time_point lastProgress = started;
  auto stallLimit = [&] { return std::min(deadline, lastProgress + std::chrono::milliseconds(limits.stallMs)); };
  auto waitFailure = [&](Ready r) {
    return fail(r == Ready::kAborted ? "aborted" : r == Ready::kTimedOut ? kTimeout : kBroken);
  };

  // Sends all of bytes; nothing when they went, else why not.
  auto sendAll = [&](const std::string& bytes) -> std::optional<Ready> {
    for (size_t at = 0; at < bytes.size();) {
      const int sent = send(socket_, bytes.data() + at, static_cast<int>(std::min<size_t>(bytes.size() - at, 1 << 20)), 0);
      if (sent > 0) {
        at += static_cast<size_t>(sent);
        lastProgress = Clock::now();
        continue;
      }
      if (WSAGetLastError() != WSAEWOULDBLOCK) return Ready::kError;
      if (const Ready r = WaitFor(socket_, true, stallLimit(), abort); r != Ready::kYes) return r;
    }
    return std::nullopt;
  };
  // What has arrived: the bytes, or an empty string at the peer's close; nothing with *why on failure.
  char chunk[16384];
  auto receive = [&](Ready* why) -> std::optional<std::string> {
    for (;;) {
      if (const Ready r = WaitFor(socket_, false, stallLimit(), abort); r != Ready::kYes) {
        *why = r;
        return std::nullopt;
      }
      const int got = recv(socket_, chunk, sizeof chunk, 0);
      if (got > 0) {
        lastProgress = Clock::now();
        return std::string(chunk, static_cast<size_t>(got));
      }
      if (got == 0) return std::string();
      const int error = WSAGetLastError();
      if (error == WSAEWOULDBLOCK) continue;
      // A reset is the peer's end too: what was read so far decides whether the reply is whole.
      if (error == WSAECONNRESET || error == WSAECONNABORTED) return std::string();
      *why = Ready::kError;
      return std::nullopt;
    }
  };

  // The TCP connection and the TLS handshake; nothing of the request is sent before the
  // channel is open, and it opens only on a certificate that passed our check.
  auto open = [&]() -> bool {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    if (getaddrinfo(request.host.c_str(), std::to_string(request.port).c_str(), &hints, &found) != 0 || !found) {
      fail(kNoName, HttpResult::Failure::kUnreachable);
      return false;
    }
    const Clock::time_point connectLimit = std::min(deadline, started + std::chrono::milliseconds(limits.connectMs));
    bool timedOut = false;
    for (addrinfo* a = found; a && socket_ == INVALID_SOCKET; a = a->ai_next) {
      SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
      if (s == INVALID_SOCKET) continue;
      u_long nonBlocking = 1;
      ioctlsocket(s, FIONBIO, &nonBlocking);
      bool connected = connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0;
      if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
        const Ready r = WaitFor(s, true, connectLimit, abort);
        int error = 0;
        int size = sizeof error;
        connected = r == Ready::kYes && getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
                    error == 0;
        if (r == Ready::kAborted) {
          closesocket(s);
          freeaddrinfo(found);
          fail("aborted");
          return false;
        }
        timedOut = timedOut || r == Ready::kTimedOut;
      }
      if (connected) {
        socket_ = s;
      } else {
        closesocket(s);
      }
    }
    freeaddrinfo(found);
    if (socket_ == INVALID_SOCKET) {
      if (timedOut) fail(kTimeout);
      else fail(kNoConnection, HttpResult::Failure::kUnreachable);
      return false;
    }
    BOOL noDelay = TRUE;
    setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    lastProgress = Clock::now();
    host_ = request.host;
    port_ = request.port;
    pem_ = extraPem;
    tls_ = std::make_unique<TlsChannel>(request.host, extraPem);
    std::string wire;
    tls_->Start(&wire);
    while (tls_->state() == TlsChannel::State::kHandshake) {
      if (!wire.empty()) {
        if (const std::optional<Ready> r = sendAll(wire)) {
          waitFailure(*r);
          return false;
        }
        wire.clear();
      }
      Ready why = Ready::kError;
      const std::optional<std::string> got = receive(&why);
      if (!got) {
        waitFailure(why);
        return false;
      }
      if (got->empty()) {
        fail("the TLS connection with " + request.host + " failed: it may not speak TLS on this port",
             HttpResult::Failure::kNotTls);
        return false;
      }
      std::string plain;  // a server speaks only when asked: nothing comes here
      tls_->Receive(*got, &wire, &plain);
    }
    if (tls_->state() != TlsChannel::State::kOpen) {
      const TlsChannel::Fault fault = tls_->fault();
      fail(tls_->error(), fault == TlsChannel::Fault::kUntrusted ? HttpResult::Failure::kUntrusted
                          : fault == TlsChannel::Fault::kNotTls  ? HttpResult::Failure::kNotTls
                                                                 : HttpResult::Failure::kOther);
      return false;
    }
    if (!wire.empty()) {
      if (const std::optional<Ready> r = sendAll(wire)) {
        waitFailure(*r);
        return false;
      }
    }
    return true;
  };

  const std::string bytes =
      HttpRequestBytes(request.method, request.target, HostHeader(request.host, request.port), request.contentType,
                       request.body);
  bool reused = socket_ != INVALID_SOCKET && tls_ && tls_->state() == TlsChannel::State::kOpen &&
                host_ == request.host && port_ == request.port && pem_ == extraPem;
  if (!reused) Drop();
  for (;;) {
    if (socket_ == INVALID_SOCKET && !open()) return result;
    // A kept channel the server has closed meanwhile fails before any byte of a reply: the
    // request goes once more on a new channel.
    auto again = [&] {
      if (!reused) return false;
      reused = false;
      Drop();
      return true;
    };
    std::string wire;
    if (!tls_->Encrypt(bytes, &wire)) return fail(tls_->error());
    if (const std::optional<Ready> r = sendAll(wire)) {
      if (*r == Ready::kError && again()) continue;
      return waitFailure(*r);
    }
    HttpReplyReader reader(limits.maxBodyBytes);
    bool retry = false;
    while (reader.state() == HttpReplyReader::State::kHead || reader.state() == HttpReplyReader::State::kBody) {
      if (abort && abort->load()) return fail("aborted");
      Ready why = Ready::kError;
      const std::optional<std::string> got = receive(&why);
      if (!got) {
        if (why == Ready::kError && !reader.started() && again()) {
          retry = true;
          break;
        }
        return waitFailure(why);
      }
      if (got->empty()) {
        if (!reader.started() && again()) {
          retry = true;
          break;
        }
        reader.End();
        break;
      }
      std::string plain;
      wire.clear();
      const TlsChannel::State state = tls_->Receive(*got, &wire, &plain);
      if (!wire.empty()) {
        if (const std::optional<Ready> r = sendAll(wire)) return waitFailure(*r);
      }
      if (state == TlsChannel::State::kFailed) return fail(tls_->error());
      reader.Feed(plain);
      if (state == TlsChannel::State::kClosed) {
        if (!reader.started() && again()) {
          retry = true;
          break;
        }
        reader.End();
      }
    }
    if (retry) continue;
    if (reader.state() == HttpReplyReader::State::kFailed) return fail(reader.error());
    result.transportOk = true;
    result.status = reader.status();
    result.body = reader.TakeBody();
    if (!reader.keepAlive() || tls_->state() != TlsChannel::State::kOpen) Drop();
    return result;
  }
}

}  // namespace torvo::win32
