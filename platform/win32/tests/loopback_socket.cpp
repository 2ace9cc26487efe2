#include "platform/tests/loopback_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

namespace torvo::testing {

namespace {
struct Winsock {
  Winsock() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
};
void StartWinsock() { static Winsock winsock; }
int Piece(size_t size) { return static_cast<int>(std::min<size_t>(size, 1 << 30)); }
}  // namespace

SocketHandle ListenOnLoopback(int* port) {
  StartWinsock();
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  listen(s, 16);
  int len = sizeof addr;
  getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = ntohs(addr.sin_port);
  return static_cast<SocketHandle>(s);
}

int UnusedLoopbackPort() {
  int port = 0;
  const SocketHandle s = ListenOnLoopback(&port);
  CloseSocket(s);
  return port;
}

SocketHandle AcceptOne(SocketHandle listener) {
  const SOCKET c = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
  return c == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(c);
}

long ReceiveSome(SocketHandle socket, char* data, size_t size) {
  return recv(static_cast<SOCKET>(socket), data, Piece(size), 0);
}

long SendSome(SocketHandle socket, const char* data, size_t size) {
  return send(static_cast<SOCKET>(socket), data, Piece(size), 0);
}

bool WaitForInput(SocketHandle socket, int ms) {
  WSAPOLLFD p{static_cast<SOCKET>(socket), POLLRDNORM, 0};
  return WSAPoll(&p, 1, ms) > 0;
}

void ShutDownAndClose(SocketHandle socket) {
  shutdown(static_cast<SOCKET>(socket), SD_BOTH);
  closesocket(static_cast<SOCKET>(socket));
}

void CloseSocket(SocketHandle socket) { closesocket(static_cast<SOCKET>(socket)); }

}  // namespace torvo::testing
