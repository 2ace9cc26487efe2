#include "service/wire/connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <optional>
#include <string_view>

namespace torvo::service {

namespace {

thread_local Connection* current = nullptr;

// Gathered replies larger than this go out as they grow (huge replies need no memory of their size).
constexpr size_t kFlushBytes = 256 * 1024;
// The request line, long notes included, may not be longer than this.
constexpr size_t kMaxRequestLine = 1024 * 1024;

bool WaitFor(int socket, short events, int timeoutMs) {
  pollfd fd{socket, events, 0};
  int rc;
  do {
    rc = ::poll(&fd, 1, timeoutMs);
  } while (rc < 0 && errno == EINTR);
  return rc > 0;
}

void AddressOf(const sockaddr_storage& address, std::string& ip, int& port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    port = ntohs(v4.sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    port = ntohs(v6.sin6_port);
  }
  ip = text;
}

// The announced length of a reply head, or nothing.
std::optional<uint64_t> ContentLength(std::string_view head) {
  constexpr std::string_view kName = "\r\ncontent-length:";
  for (size_t i = 0; i + kName.size() <= head.size(); ++i) {
    bool same = true;
    for (size_t j = 0; j < kName.size() && same; ++j) {
      same = std::tolower(static_cast<unsigned char>(head[i + j])) == kName[j];
    }
    if (!same) continue;
    size_t start = i + kName.size();
    while (start < head.size() && head[start] == ' ') ++start;
    uint64_t value = 0;
    auto [end, error] = std::from_chars(head.data() + start, head.data() + head.size(), value);
    if (error == std::errc{}) return value;
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

Connection::Connection(int socket, int readTimeoutMs, int writeTimeoutMs, std::function<void(int)> sleep)
    : socket_(socket), readTimeoutMs_(readTimeoutMs), writeTimeoutMs_(writeTimeoutMs), sleep_(std::move(sleep)) {
  // Taken now: once the client has gone, the socket no longer names it, and the log line of a
  // dropped reply would show no client.
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getpeername(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) AddressOf(address, peerIp_, peerPort_);
  length = sizeof address;
  if (::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) AddressOf(address, localIp_, localPort_);
}

Connection* Connection::Current() { return current; }

CurrentConnection::CurrentConnection(Connection* connection) { current = connection; }
CurrentConnection::~CurrentConnection() { current = nullptr; }

bool Connection::Fill(int timeoutMs) { return WaitFor(socket_, POLLIN, timeoutMs) && Receive(); }

bool Connection::Receive() {
  if (inPos_ > 0 && inPos_ == in_.size()) {
    in_.clear();
    inPos_ = 0;
  }
  char buffer[65536];
  ssize_t n;
  do {
    n = ::recv(socket_, buffer, sizeof buffer, 0);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return false;
  in_.append(buffer, static_cast<size_t>(n));
  return true;
}

bool Connection::BeginRequest(int timeoutMs, const std::atomic<bool>& stopping) {
  plan_ = ReplyPlan{};
  out_.clear();
  started_ = false;
  headLength_ = std::string::npos;
  sendLimit_ = UINT64_MAX;
  replySent_ = 0;
  status_ = 0;
  closeAfter_ = false;
  notes_.clear();
  rawTarget_.clear();
  requestLine_.clear();

  // Wait for the request in short steps, so a stopping service is not held up by idle clients.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (inPos_ == in_.size()) {
    if (stopping || std::chrono::steady_clock::now() >= deadline) return false;
    if (WaitFor(socket_, POLLIN, 100) && !Receive()) return false;
  }

  for (;;) {
    size_t newline = in_.find('\n', inPos_);
    if (newline == std::string::npos) {
      if (in_.size() - inPos_ > kMaxRequestLine || !Fill(readTimeoutMs_)) return false;
      continue;
    }
    std::string_view line(in_.data() + inPos_, newline - inPos_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) {  // a stray line break between requests
      inPos_ = newline + 1;
      continue;
    }
    requestLine_ = std::string(line);
    size_t first = line.find(' ');
    size_t last = line.rfind(' ');
    if (first == std::string_view::npos || last == first) return true;  // the library answers 400
    rawTarget_ = std::string(line.substr(first + 1, last - first - 1));
    // The library gets the line without the query: it keeps request lines short, and the handlers
    // read the query from the raw target.
    std::string shortLine = std::string(line.substr(0, first + 1)) + rawTarget_.substr(0, rawTarget_.find('?')) +
                            std::string(line.substr(last)) + "\r\n";
    in_ = shortLine + in_.substr(newline + 1);
    inPos_ = 0;
    return true;
  }
}

bool Connection::ReadBody(size_t n, std::string& body) {
  body.clear();
  while (body.size() < n) {
    if (inPos_ == in_.size() && !Fill(readTimeoutMs_)) return false;
    size_t take = std::min(n - body.size(), in_.size() - inPos_);
    body.append(in_, inPos_, take);
    inPos_ += take;
  }
  return true;
}

bool Connection::is_readable() const { return inPos_ < in_.size() || WaitFor(socket_, POLLIN, readTimeoutMs_); }

bool Connection::is_writable() const { return !broken_ && !dropped_ && WaitFor(socket_, POLLOUT, writeTimeoutMs_); }

ssize_t Connection::read(char* ptr, size_t size) {
  if (inPos_ == in_.size() && !Fill(readTimeoutMs_)) return inPos_ == in_.size() ? 0 : -1;
  size_t take = std::min(size, in_.size() - inPos_);
  std::copy_n(in_.data() + inPos_, take, ptr);
  inPos_ += take;
  return static_cast<ssize_t>(take);
}

ssize_t Connection::write(const char* ptr, size_t size) {
  if (broken_ || dropped_) return -1;
  // An interim "100 Continue" goes out at once: the client waits for it before it sends its body.
  if (out_.empty() && !started_ && std::string_view(ptr, size).starts_with("HTTP/1.1 100 ")) {
    return SendAll(ptr, size) ? static_cast<ssize_t>(size) : -1;
  }
  out_.append(ptr, size);
  if (plan_.pieces <= 1 && out_.size() >= kFlushBytes) Flush(false);
  return broken_ || dropped_ ? -1 : static_cast<ssize_t>(size);
}

void Connection::Flush(bool final) {
  if (out_.empty() || broken_ || dropped_) return;
  if (!started_) {
    started_ = true;
    if (plan_.delayMs > 0) sleep_(plan_.delayMs);
    size_t headEnd = out_.find("\r\n\r\n");
    if (headEnd != std::string::npos) headLength_ = headEnd + 4;
    if (plan_.dropAfterBody != -1 && headLength_ != std::string::npos) {
      uint64_t body = static_cast<uint64_t>(plan_.dropAfterBody);
      if (plan_.dropAfterBody == ReplyPlan::kDropHalf) {
        body = ContentLength(std::string_view(out_).substr(0, headLength_)).value_or(out_.size() - headLength_) / 2;
      }
      sendLimit_ = headLength_ + body;
    }
  }

  size_t n = out_.size();
  if (sendLimit_ != UINT64_MAX) n = static_cast<size_t>(std::min<uint64_t>(n, sendLimit_ - replySent_));
  if (final && plan_.pieces > 1) {
    size_t pieces = std::min<size_t>(static_cast<size_t>(plan_.pieces), std::max<size_t>(n, 1));
    size_t offset = 0;
    for (size_t i = 0; i < pieces && !broken_; ++i) {
      size_t length = n / pieces + (i < n % pieces ? 1 : 0);
      if (i > 0) sleep_(plan_.pauseMs);
      SendAll(out_.data() + offset, length);
      offset += length;
    }
  } else {
    SendAll(out_.data(), n);
  }
  replySent_ += n;
  out_.erase(0, n);
  if (sendLimit_ != UINT64_MAX && (replySent_ >= sendLimit_ || final)) Drop();
}

bool Connection::SendAll(const char* data, size_t size) {
  while (size > 0 && !broken_) {
    ssize_t n = ::send(socket_, data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(socket_, POLLOUT, writeTimeoutMs_)) continue;
      broken_ = true;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return !broken_;
}

void Connection::Drop() {
  dropped_ = true;
  out_.clear();
  ::shutdown(socket_, SHUT_WR);
}

bool Connection::FinishReply() {
  Flush(true);
  return !broken_ && !dropped_ && !closeAfter_;
}

void Connection::AddNote(std::string_view note) {
  if (!notes_.empty()) notes_ += ' ';
  notes_ += note;
}

std::string Connection::PeerAddress() const {
  std::string ip;
  int port = 0;
  get_remote_ip_and_port(ip, port);
  return ip + ":" + std::to_string(port);
}

void Connection::get_remote_ip_and_port(std::string& ip, int& port) const {
  ip = peerIp_;
  port = peerPort_;
}

void Connection::get_local_ip_and_port(std::string& ip, int& port) const {
  ip = localIp_;
  port = localPort_;
}

}  // namespace torvo::service
