#include "platform/tests/loopback_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace torvo::testing {

SocketHandle ListenOnLoopback(int* port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  listen(fd, 1);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = ntohs(addr.sin_port);
  return fd;
}

int UnusedLoopbackPort() {
  int port = 0;
  const SocketHandle fd = ListenOnLoopback(&port);
  CloseSocket(fd);
  return port;
}

SocketHandle AcceptOne(SocketHandle listener) {
  const int c = accept(static_cast<int>(listener), nullptr, nullptr);
  return c < 0 ? kNoSocket : c;
}

long ReceiveSome(SocketHandle socket, char* data, size_t size) { return recv(static_cast<int>(socket), data, size, 0); }

long SendSome(SocketHandle socket, const char* data, size_t size) {
  return send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
}

bool WaitForInput(SocketHandle socket, int ms) {
  pollfd p{static_cast<int>(socket), POLLIN, 0};
  return ::poll(&p, 1, ms) > 0;
}

void ShutDownAndClose(SocketHandle socket) {
  shutdown(static_cast<int>(socket), SHUT_RDWR);
  close(static_cast<int>(socket));
}

void CloseSocket(SocketHandle socket) { close(static_cast<int>(socket)); }

}  // namespace torvo::testing
