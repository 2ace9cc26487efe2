#include "raw_listener.h"

#include <stdexcept>
#include <vector>

namespace torvo::sync::testing {

namespace net = torvo::testing;

RawListener::RawListener(Handler handler) : handler_(std::move(handler)) {
  listenSocket_ = net::ListenOnLoopback(&port_);
  if (listenSocket_ == net::kNoSocket || port_ == 0) throw std::runtime_error("raw listener: no loopback port");
  acceptor_ = std::thread([this] {
    while (!stopping_) {
      if (!net::WaitForInput(listenSocket_, 50)) continue;
      const SocketHandle s = net::AcceptOne(listenSocket_);
      if (s == net::kNoSocket) continue;
      ++connections_;
      std::lock_guard lock(mutex_);
      openSockets_.push_back(s);
      threads_.emplace_back([this, s] { Serve(s); });
    }
  });
}

RawListener::~RawListener() {
  stopping_ = true;
  acceptor_.join();
  {
    std::lock_guard lock(mutex_);
    for (SocketHandle s : openSockets_) net::ShutDownAndClose(s);
  }
  for (auto& t : threads_) t.join();
  net::CloseSocket(listenSocket_);
}

std::vector<std::string> RawListener::targets() {
  std::lock_guard lock(mutex_);
  return targets_;
}

void RawListener::Serve(SocketHandle socket) {
  std::string pending;
  char buffer[4096];
  for (;;) {
    size_t end;
    while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
      const long n = net::ReceiveSome(socket, buffer, sizeof buffer);
      if (n <= 0) {
        std::lock_guard lock(mutex_);
        std::erase(openSockets_, socket);
        net::ShutDownAndClose(socket);
        return;
      }
      pending.append(buffer, static_cast<size_t>(n));
    }
    std::string head = pending.substr(0, end);
    pending.erase(0, end + 4);
    size_t first = head.find(' ');
    size_t second = head.find(' ', first + 1);
    std::string target = head.substr(first + 1, second - first - 1);
    {
      std::lock_guard lock(mutex_);
      targets_.push_back(target);
    }
    if (!handler_(target, socket, *this)) break;
  }
  // Hung up: the client sees the end of the stream now, not when the listener goes.
  std::lock_guard lock(mutex_);
  std::erase(openSockets_, socket);
  net::ShutDownAndClose(socket);
}

void RawListener::Send(SocketHandle socket, const std::string& bytes) {
  for (size_t sent = 0; sent < bytes.size();) {
    const long n = net::SendSome(socket, bytes.data() + sent, bytes.size() - sent);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

std::string RawListener::Ok(const std::string& body, const std::string& extraHeaders) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}

std::string RawListener::Status(int status, const std::string& reason, const std::string& body) {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace torvo::sync::testing
