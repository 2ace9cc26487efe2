#include "raw_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace torvo::sync::testing {

RawListener::RawListener(Handler handler) : handler_(std::move(handler)) {
  listenSocket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listenSocket_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listenSocket_, 16) != 0 ||
      ::getsockname(listenSocket_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("raw listener: no loopback port");
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] {
    for (;;) {
      pollfd p{listenSocket_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) {
        if (stopping_) return;
        continue;
      }
      int s = ::accept4(listenSocket_, nullptr, nullptr, SOCK_CLOEXEC);
      if (s < 0) continue;
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
    for (int s : openSockets_) ::shutdown(s, SHUT_RDWR);
  }
  for (auto& t : threads_) t.join();
  for (int s : openSockets_) ::close(s);
  ::close(listenSocket_);
}

std::vector<std::string> RawListener::targets() {
  std::lock_guard lock(mutex_);
  return targets_;
}

void RawListener::Serve(int socket) {
  std::string pending;
  char buffer[4096];
  for (;;) {
    size_t end;
    while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
      ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
      if (n <= 0) return;
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
    if (!handler_(target, socket, *this)) {
      ::shutdown(socket, SHUT_RDWR);
      return;
    }
  }
}

void RawListener::Send(int socket, const std::string& bytes) {
  for (size_t sent = 0; sent < bytes.size();) {
    ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
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
