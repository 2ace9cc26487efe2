#pragma once
// A one-shot HTTP server on loopback for the client's tests, on both systems.
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "platform/tests/loopback_socket.h"

namespace torvo::testing {

// A one-shot loopback server: accepts one connection, reads the request head, writes reply.
class OneShotServer {
 public:
  // holdOpen: after the reply the connection stays open and silent until the server ends.
  explicit OneShotServer(std::string reply, bool holdOpen = false)
      : OneShotServer([reply](const std::string&) { return reply; }, holdOpen) {}
  // The reply made from the request's head, as a server that negotiates would.
  explicit OneShotServer(std::function<std::string(const std::string& head)> answer, bool holdOpen = false) {
    listener_ = ListenOnLoopback(&port_);
    thread_ = std::thread([this, holdOpen, answer = std::move(answer)] {
      const SocketHandle c = AcceptOne(listener_);
      if (c == kNoSocket) return;
      std::string head;
      char buf[4096];
      while (head.find("\r\n\r\n") == std::string::npos) {
        const long n = ReceiveSome(c, buf, sizeof buf);
        if (n <= 0) break;
        head.append(buf, static_cast<size_t>(n));
      }
      request_ = head;
      const std::string reply = answer(head);
      size_t sent = 0;
      while (sent < reply.size()) {
        const long n = SendSome(c, reply.data() + sent, reply.size() - sent);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
      while (holdOpen && !ending_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      CloseSocket(c);
    });
  }
  ~OneShotServer() {
    ending_ = true;
    ShutDownAndClose(listener_);
    thread_.join();
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  const std::string& request() const { return request_; }

 private:
  SocketHandle listener_ = kNoSocket;
  int port_ = 0;
  std::atomic<bool> ending_{false};
  std::thread thread_;
  std::string request_;
};

inline std::string Reply(const std::string& status, const std::string& body, bool announceLength = true) {
  std::string head = "HTTP/1.1 " + status + "\r\nConnection: close\r\n";
  if (announceLength) head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return head + "\r\n" + body;
}

}  // namespace torvo::testing
