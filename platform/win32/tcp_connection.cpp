#include "platform/win32/tcp_connection.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <utility>

#include "platform/win32/system_message.h"

namespace torvo::win32 {

namespace {
constexpr UINT kSocketMessage = kOwnMessage;
constexpr UINT kFailureMessage = kOwnMessage + 1;

void StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}
}  // namespace

WinsockConnection::WinsockConnection()
    : window_([this](UINT message, WPARAM wParam, LPARAM lParam) { OnMessage(message, wParam, lParam); }) {
  StartWinsock();
}

WinsockConnection::~WinsockConnection() { Close(); }

void WinsockConnection::Close() {
  ++generation_;
  if (socket_ != INVALID_SOCKET && tls_ && tls_->state() == TlsChannel::State::kOpen) {
    // Our close_notify, as far as the socket takes it at once; the peer is not waited for.
    std::string notify;
    tls_->Shutdown(&notify);
    if (!notify.empty()) send(socket_, notify.data(), static_cast<int>(notify.size()), 0);
  }
  if (socket_ != INVALID_SOCKET) {
    // Closing cancels the socket's notifications; those already queued are dropped here.
    closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }
  window_.Discard(kSocketMessage);
  window_.Discard(kFailureMessage);
  connected_ = false;
  outgoing_.clear();
  incoming_.clear();
  failure_.clear();
  tls_.reset();
  wire_.clear();
  lastFailure_ = FailureKind::kOther;
}

void WinsockConnection::Connect(const std::string& host, uint16_t port) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int error = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); error != 0 || !found) {
    failure_ = "Host " + host + " not found: " + SystemMessage(static_cast<DWORD>(error));
  } else {
    socket_ = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (socket_ == INVALID_SOCKET) {
      failure_ = SystemMessage(static_cast<DWORD>(WSAGetLastError()));
    } else if (WSAAsyncSelect(socket_, window_.handle(), kSocketMessage, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0) {
      failure_ = SystemMessage(static_cast<DWORD>(WSAGetLastError()));
    } else if (connect(socket_, found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0 &&
               WSAGetLastError() != WSAEWOULDBLOCK) {
      failure_ = SystemMessage(static_cast<DWORD>(WSAGetLastError()));
    }
  }
  if (found) freeaddrinfo(found);
  // Even a failure at once is told from the message loop, as a refused connection is.
  if (!failure_.empty()) PostMessageW(window_.handle(), kFailureMessage, generation_, 0);
}

void WinsockConnection::ConnectTls(const std::string& host, uint16_t port, const std::string& extraTrustedPem) {
  Connect(host, port);
  tls_ = std::make_unique<TlsChannel>(host, extraTrustedPem);
}

void WinsockConnection::SendData(std::string_view bytes) {
  if (socket_ == INVALID_SOCKET) return;
  outgoing_.append(bytes);
  if (connected_ && !Flush()) Fail(SystemMessage(static_cast<DWORD>(WSAGetLastError())));
}

std::string WinsockConnection::GetData() { return std::exchange(incoming_, {}); }

void WinsockConnection::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kFailureMessage) {
    if (static_cast<uint32_t>(wParam) == generation_ && !failure_.empty()) Fail(std::exchange(failure_, {}));
    return;
  }
  if (message != kSocketMessage || socket_ == INVALID_SOCKET || static_cast<SOCKET>(wParam) != socket_) return;
  OnSocketEvent(WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam));
}

void WinsockConnection::OnSocketEvent(WORD event, WORD error) {
  const uint32_t generation = generation_;
  // A handler may close or reconnect: then nothing more of this event concerns it.
  auto stillOurs = [&] { return generation == generation_; };
  switch (event) {
    case FD_CONNECT:
      if (error != 0) return Fail(SystemMessage(error));
      if (tls_) {
        // The caller's bytes wait for the handshake; Connected comes when it has passed.
        tls_->Start(&wire_);
        if (tls_->state() == TlsChannel::State::kFailed) return Fail(tls_->error());
        if (!Flush()) Fail(SystemMessage(static_cast<DWORD>(WSAGetLastError())));
        return;
      }
      connected_ = true;
      if (Connected) Connected();
      if (stillOurs() && !Flush()) Fail(SystemMessage(static_cast<DWORD>(WSAGetLastError())));
      return;
    case FD_WRITE:
      if (error != 0) return Fail(SystemMessage(error));
      if (!Flush()) Fail(SystemMessage(static_cast<DWORD>(WSAGetLastError())));
      return;
    case FD_READ: {
      if (error != 0) return Fail(SystemMessage(error));
      if (tls_) {
        std::string raw;
        std::swap(raw, incoming_);
        const bool read = Receive();
        std::swap(raw, incoming_);
        if (!read) return Fail(SystemMessage(static_cast<DWORD>(WSAGetLastError())));
        return ReceiveTls(std::move(raw));
      }
      if (!Receive()) return Fail(SystemMessage(static_cast<DWORD>(WSAGetLastError())));
      if (!incoming_.empty() && DataArrival) DataArrival(static_cast<int64_t>(incoming_.size()));
      return;
    }
    case FD_CLOSE: {
      if (tls_) {
        std::string raw;
        std::swap(raw, incoming_);
        const bool read = Receive();
        std::swap(raw, incoming_);
        if (!raw.empty()) ReceiveTls(std::move(raw));
        if (!stillOurs()) return;
        if (error != 0) return Fail(SystemMessage(error));
        if (!read) return Fail(SystemMessage(static_cast<DWORD>(WSAGetLastError())));
        if (tls_->state() == TlsChannel::State::kHandshake)
          return Fail("the server " + tls_->host() + " closed the connection during the TLS handshake",
                      FailureKind::kNotTls);
        // A close without close_notify ends the stream as well: the reply says by its length
        // whether it is whole.
        return EndOfStream();
      }
      // What arrived before the close is still to be read; the peer's orderly close is the end
      // of a reply, a reset is a failure.
      const size_t before = incoming_.size();
      const bool read = Receive();
      if (incoming_.size() > before && DataArrival) DataArrival(static_cast<int64_t>(incoming_.size()));
      if (!stillOurs()) return;
      if (error != 0) return Fail(SystemMessage(error));
      if (!read) return Fail(SystemMessage(static_cast<DWORD>(WSAGetLastError())));
      return EndOfStream();
    }
    default:
      return;
  }
}

bool WinsockConnection::Flush() {
  // With TLS the caller's bytes go out as records once the channel is open, never before.
  if (tls_ && connected_ && !outgoing_.empty()) {
    // Records of at most a socket write's size, so a large upload is not held twice in memory.
    const size_t piece = std::min<size_t>(outgoing_.size(), 1 << 20);
    if (wire_.empty()) {
      if (!tls_->Encrypt(std::string_view(outgoing_).substr(0, piece), &wire_)) {
        WSASetLastError(WSAECONNABORTED);
        return false;
      }
      outgoing_.erase(0, piece);
    }
  }
  std::string& out = tls_ ? wire_ : outgoing_;
  while (!out.empty()) {
    const int piece = static_cast<int>(std::min<size_t>(out.size(), 1 << 20));
    const int sent = send(socket_, out.data(), piece, 0);
    if (sent == SOCKET_ERROR) return WSAGetLastError() == WSAEWOULDBLOCK;  // FD_WRITE says when to go on
    out.erase(0, static_cast<size_t>(sent));
    if (out.empty() && tls_ && connected_ && !outgoing_.empty()) {
      const size_t next = std::min<size_t>(outgoing_.size(), 1 << 20);
      if (!tls_->Encrypt(std::string_view(outgoing_).substr(0, next), &wire_)) {
        WSASetLastError(WSAECONNABORTED);
        return false;
      }
      outgoing_.erase(0, next);
    }
  }
  return true;
}

void WinsockConnection::ReceiveTls(std::string raw) {
  const uint32_t generation = generation_;
  const bool wasOpen = connected_;
  std::string plain;
  const TlsChannel::State state = tls_->Receive(raw, &wire_, &plain);
  if (state == TlsChannel::State::kFailed) {
    const TlsChannel::Fault fault = tls_->fault();
    return Fail(tls_->error(), fault == TlsChannel::Fault::kUntrusted ? FailureKind::kUntrusted
                               : fault == TlsChannel::Fault::kNotTls  ? FailureKind::kNotTls
                                                                      : FailureKind::kOther);
  }
  if (!wire_.empty() && !Flush()) return Fail(SystemMessage(static_cast<DWORD>(WSAGetLastError())));
  if (!wasOpen && state != TlsChannel::State::kHandshake) {
    // The handshake passed and the certificate is good: now the connection stands.
    connected_ = true;
    if (Connected) Connected();
    if (generation != generation_) return;
    if (!Flush()) return Fail(SystemMessage(static_cast<DWORD>(WSAGetLastError())));
  }
  if (!plain.empty()) {
    incoming_.append(plain);
    if (DataArrival) DataArrival(static_cast<int64_t>(incoming_.size()));
    if (generation != generation_) return;
  }
  if (state == TlsChannel::State::kClosed) EndOfStream();
}

void WinsockConnection::EndOfStream() {
  closesocket(socket_);
  socket_ = INVALID_SOCKET;
  connected_ = false;
  ++generation_;
  if (Closed) Closed();
}

bool WinsockConnection::Receive() {
  char chunk[64 * 1024];
  for (;;) {
    const int got = recv(socket_, chunk, sizeof chunk, 0);
    if (got > 0) {
      incoming_.append(chunk, static_cast<size_t>(got));
      continue;
    }
    if (got == 0) return true;  // the peer's end of the stream
    return WSAGetLastError() == WSAEWOULDBLOCK;
  }
}

void WinsockConnection::Fail(const std::string& text, FailureKind kind) {
  lastFailure_ = kind;
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
  socket_ = INVALID_SOCKET;
  connected_ = false;
  ++generation_;
  outgoing_.clear();
  if (Failed) Failed(text);
}

}  // namespace torvo::win32
