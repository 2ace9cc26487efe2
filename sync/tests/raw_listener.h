#pragma once
// A bare HTTP listener on loopback for fault tests: each request's target goes to a handler that
// writes whatever bytes it likes on the socket, well-formed or not.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/tests/loopback_socket.h"

namespace torvo::sync::testing {

using torvo::testing::SocketHandle;

class RawListener {
 public:
  // Writes the reply for target on the socket. Returns false to close the connection.
  using Handler = std::function<bool(const std::string& target, SocketHandle socket, RawListener& listener)>;

  explicit RawListener(Handler handler);
  ~RawListener();

  int port() const { return port_; }
  std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int connections() const { return connections_; }
  std::vector<std::string> targets();
  // For handlers that hang: true once the listener is being torn down.
  bool stopping() const { return stopping_; }

  static void Send(SocketHandle socket, const std::string& bytes);
  static std::string Ok(const std::string& body, const std::string& extraHeaders = "");
  static std::string Status(int status, const std::string& reason, const std::string& body);

 private:
  void Serve(SocketHandle socket);

  Handler handler_;
  SocketHandle listenSocket_ = torvo::testing::kNoSocket;
  int port_ = 0;
  std::atomic<int> connections_{0};
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::vector<std::string> targets_;
  std::vector<SocketHandle> openSockets_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace torvo::sync::testing
