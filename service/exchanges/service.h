#pragma once
// The web service: the four exchanges of the two programs (folder list, upload, image list, image
// download), the web page (WebPages) and a loopback-only admin endpoint for faults, on one port.
// Every connection is served by our own loop (Connection), so each reply goes out in one write.
#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "service/wire/connection.h"
#include "service/exchanges/faults.h"
#include "service/store/store.h"
#include "service/web/web.h"

namespace torvo::service {

struct ServiceOptions {
  std::string bindAddress = "127.0.0.1";
  int port = 8765;            // 0: any free port
  std::string uploadHost;     // named in the folder list; empty: the bound address
  std::string imageBase;      // start of the image list's base address; empty: http://ADDRESS:PORT
  // The address users enter in their programs (http(s)://HOST[:PORT]/PATH/) when the service is
  // reached through a proxy; it gives the upload host and the image base unless those are set.
  std::string publicAddress;
  size_t maxUploadBytes = 32 * 1024 * 1024;
  int readTimeoutMs = 20000;
  int keepAliveTimeoutMs = 10000;
};

class Service : public httplib::Server {
 public:
  // log: one line per request goes there; nullptr for none.
  Service(Store& store, FaultBoard& faults, ServiceOptions options, std::ostream* log);

  // Binds the listening socket; returns the port, or -1 when it cannot be bound.
  int Bind();
  // Serves until Stop.
  void Run();
  // Safe from any thread: ends Run after the requests in hand are answered.
  void Stop();

  const std::string& UploadHost() const { return uploadHost_; }
  const std::string& ImageBase() const { return imageBase_; }

 private:
  bool process_and_close_socket(socket_t sock) override;
  void Sleep(int milliseconds);
  void Log(const Connection& connection, double milliseconds);

  // The user of any live ToolbarID: the user's own or one of their devices'.
  std::optional<User> FindCaller(const std::string& identity);
  void ImageListScript(const httplib::Request& request, httplib::Response& response);
  void FolderList(const std::string& identity, const std::vector<Fault>& faults, httplib::Response& response);
  void ImageList(const std::string& identity, const std::vector<Fault>& faults, httplib::Response& response);
  void Upload(const httplib::Request& request, httplib::Response& response);
  void Download(const httplib::Request& request, httplib::Response& response);
  void AdminFaults(const httplib::Request& request, httplib::Response& response, bool change);

  Store& store_;
  FaultBoard& faults_;
  ServiceOptions options_;
  std::ostream* log_;
  std::mutex logMutex_;
  std::string uploadHost_;
  std::string imageBase_;
  WebPages web_;
  int listenSocket_ = -1;

  std::atomic<bool> stopping_{false};
  std::mutex sleepMutex_;
  std::condition_variable sleepWake_;
};

}  // namespace torvo::service
