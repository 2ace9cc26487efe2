#pragma once
// The few socket calls the tests' loopback servers make, on both systems (POSIX sockets on
// Linux, Winsock on Windows), so a test of a client runs against a real server on each.
#include <cstddef>
#include <cstdint>

namespace torvo::testing {

using SocketHandle = intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// A socket listening on 127.0.0.1 at a port the system chose; *port tells which.
SocketHandle ListenOnLoopback(int* port);
// A free loopback port with nothing listening on it (taken and let go at once).
int UnusedLoopbackPort();
SocketHandle AcceptOne(SocketHandle listener);
// Bytes received or sent, 0 at the end of the stream, negative on failure.
long ReceiveSome(SocketHandle socket, char* data, size_t size);
long SendSome(SocketHandle socket, const char* data, size_t size);
// True when bytes or the end of the stream (a listener: a connection) wait on the socket, within ms.
bool WaitForInput(SocketHandle socket, int ms);
// Ends both directions (a blocked accept or receive returns) and closes.
void ShutDownAndClose(SocketHandle socket);
void CloseSocket(SocketHandle socket);

}  // namespace torvo::testing
