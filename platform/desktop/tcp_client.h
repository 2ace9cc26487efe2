#pragma once
// An event-driven TCP connection for the upload: connect to a host and port, an event when the
// connection stands, data sent in order, an event when reply data has arrived. Everything runs
// on the thread of the event loop; the handlers are called from it.
#include <QObject>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class QTcpSocket;

namespace torvo::desktop {

class TcpClient : public QObject {
 public:
  explicit TcpClient(QObject* parent = nullptr);
  ~TcpClient() override;

  // Ends any earlier connection at once; no event of it is delivered afterwards.
  void Close();
  // Starts a connection; Connected or Failed follows.
  void Connect(const std::string& host, uint16_t port);
  // Queues bytes on the connection, in order; the event loop writes them.
  void SendData(std::string_view bytes);
  // Takes all bytes that have arrived and are waiting.
  std::string GetData();

  std::function<void()> Connected;
  std::function<void(int64_t bytesTotal)> DataArrival;
  // The peer closed the connection (the normal end of a reply).
  std::function<void()> Closed;
  // The connection could not be made or broke; text says why, in the platform's words.
  std::function<void(const std::string& text)> Failed;

 private:
  QTcpSocket* socket_ = nullptr;
};

}  // namespace torvo::desktop
