#include "service/exchanges/service.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>

#include "service/wire/url.h"

namespace torvo::service {

namespace {

// The exchanges answer to their paths also in the absolute form of the request line.
constexpr const char* kAnyHost = R"((?:https?://[^/]*)?)";

bool IsLoopback(const std::string& address) {
  return address.starts_with("127.") || address == "::1" || address.starts_with("::ffff:127.");
}

bool IsUploadTarget(std::string_view rawTarget) {
  std::string_view path = SplitTarget(rawTarget).path;
  return path == "/imgUpload.php";
}

// Printable form of a request line for the log: at most 300 bytes, odd bytes as \xNN.
std::string Printable(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size() && out.size() < 300; ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F || c == '"' || c == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (out.size() >= 300) out += "...";
  return out;
}

// Closes after the client has seen the end of what was sent: unread request bytes would make
// the close a reset, which can destroy a reply the client has not read yet.
void CloseGracefully(int socket) {
  ::shutdown(socket, SHUT_WR);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  size_t drained = 0;
  char buffer[16384];
  while (drained < 4 * 1024 * 1024) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd fd{socket, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) break;
    ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    drained += static_cast<size_t>(n);
  }
  ::close(socket);
}

}  // namespace

Service::Service(Store& store, FaultBoard& faults, ServiceOptions options, std::ostream* log)
    : store_(store), faults_(faults), options_(std::move(options)), log_(log), web_(store) {
  new_task_queue = [] { return new httplib::ThreadPool(32); };
  set_keep_alive_max_count(100000);
  set_keep_alive_timeout((options_.keepAliveTimeoutMs + 999) / 1000);
  set_read_timeout(options_.readTimeoutMs / 1000, (options_.readTimeoutMs % 1000) * 1000);
  set_payload_max_length(options_.maxUploadBytes);
  // The library's default also shares the port with any other listener on it: a second service
  // started on a busy port must fail, not take half of the first one's requests.
  set_socket_options([this](socket_t sock) {
    int on = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    listenSocket_ = sock;
  });

  const std::string any = kAnyHost;
  Get(any + R"(/imgList\.php)", [this](const httplib::Request& request, httplib::Response& response) {
    ImageListScript(request, response);
  });
  Post(any + R"(/imgUpload\.php)",
       [this](const httplib::Request& request, httplib::Response& response, const httplib::ContentReader&) {
         Upload(request, response);
       });
  Get(any + R"(/img/.*)", [this](const httplib::Request& request, httplib::Response& response) {
    Download(request, response);
  });
  Get("/admin/faults", [this](const httplib::Request& request, httplib::Response& response) {
    AdminFaults(request, response, false);
  });
  Post("/admin/faults",
       [this](const httplib::Request& request, httplib::Response& response, const httplib::ContentReader&) {
         AdminFaults(request, response, true);
       });

  // For a load balancer: 200 while this process reaches its database, 503 and why when not.
  Get("/health", [this](const httplib::Request&, httplib::Response& response) {
    response.set_header("Cache-Control", "no-store");
    if (auto problem = store_.Unhealthy()) {
      response.status = 503;
      response.set_content("database unreachable: " + *problem + "\n", "text/plain");
      return;
    }
    response.set_content("ok\n", "text/plain");
  });

  web_.SetPublicAddress(options_.publicAddress);
  web_.Register(*this);

  set_error_handler(HandlerWithResponse([](const httplib::Request&, httplib::Response& response) {
    if (!response.body.empty()) return HandlerResponse::Unhandled;
    response.set_content("error " + std::to_string(response.status) + "\n", "text/plain");
    return HandlerResponse::Handled;
  }));
  // The reason goes to the log only: a path in a reply could look like a stored image's name.
  set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr error) {
    std::string what = "unknown error";
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    if (Connection* connection = Connection::Current()) connection->AddNote(what);
    response.status = 500;
    response.set_content("service error\n", "text/plain");
  });
  set_logger([](const httplib::Request&, const httplib::Response& response) {
    if (Connection* connection = Connection::Current()) connection->NoteStatus(response.status);
  });
}

int Service::Bind() {
  int port = options_.port == 0 ? bind_to_any_port(options_.bindAddress) : options_.port;
  if (options_.port != 0 && !bind_to_port(options_.bindAddress, options_.port)) return -1;
  if (port <= 0) return -1;
  // The library listens with a queue of 5: twenty clients connecting at once would see their
  // connections dropped and tried again a second later. Listening again only makes it longer.
  if (listenSocket_ >= 0) ::listen(listenSocket_, SOMAXCONN);
  // A service bound to every address names loopback: the clients of this machine reach it there.
  std::string host = options_.bindAddress;
  if (host == "0.0.0.0" || host == "::" || host.empty()) host = "127.0.0.1";
  std::string imageBase = "http://" + host + ":" + std::to_string(port);
  // Behind a proxy the programs reach the service where its users do.
  if (auto address = ParsePublicAddress(options_.publicAddress)) {
    host = address->host;
    imageBase = address->url;
  }
  uploadHost_ = options_.uploadHost.empty() ? host : options_.uploadHost;
  imageBase_ = options_.imageBase.empty() ? imageBase : options_.imageBase;
  while (imageBase_.ends_with('/')) imageBase_.pop_back();
  options_.port = port;
  return port;
}

void Service::Run() { listen_after_bind(); }

void Service::Stop() {
  {
    std::lock_guard lock(sleepMutex_);
    stopping_ = true;
  }
  sleepWake_.notify_all();
  stop();
}

void Service::Sleep(int milliseconds) {
  std::unique_lock lock(sleepMutex_);
  sleepWake_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stopping_.load(); });
}

bool Service::process_and_close_socket(socket_t sock) {
  int on = 1;
  ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  {
    Connection connection(sock, options_.readTimeoutMs, 10000, [this](int ms) { Sleep(ms); });
    CurrentConnection current(&connection);
    size_t remaining = keep_alive_max_count_;
    while (!stopping_ && remaining > 0 && connection.BeginRequest(options_.keepAliveTimeoutMs, stopping_)) {
      auto start = std::chrono::steady_clock::now();
      // The upload tool's connection carries one request; the others stay open for more.
      bool closeAfter = remaining == 1 || stopping_ || IsUploadTarget(connection.RawTarget());
      bool closedByClient = false;
      bool handled = process_request(connection, closeAfter, closedByClient, nullptr);
      bool usable = connection.FinishReply();
      Log(connection, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
      if (!handled || !usable || closedByClient || closeAfter) break;
      --remaining;
    }
  }
  CloseGracefully(sock);
  return true;
}

void Service::Log(const Connection& connection, double milliseconds) {
  if (!log_) return;
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  char time[32];
  std::strftime(time, sizeof time, "%Y-%m-%d %H:%M:%S", &parts);
  char duration[32];
  std::snprintf(duration, sizeof duration, "%.1fms", milliseconds);
  std::string line = std::string(time) + " " + connection.PeerAddress() + " \"" + Printable(connection.RequestLine()) +
                     "\" " + std::to_string(connection.Status()) + " " + std::to_string(connection.BytesSent()) +
                     "B " + duration;
  if (!connection.Notes().empty()) line += " [" + connection.Notes() + "]";
  if (connection.Dropped()) line += " dropped";
  std::lock_guard lock(logMutex_);
  *log_ << line + "\n" << std::flush;
}

void Service::AdminFaults(const httplib::Request& request, httplib::Response& response, bool change) {
  Connection* connection = Connection::Current();
  if (!IsLoopback(request.remote_addr)) {
    response.status = 403;
    response.set_content("the admin endpoint answers loopback clients only\n", "text/plain");
    return;
  }
  if (change) {
    // The body carries nothing; it is read only to keep the connection in step.
    size_t length = request.get_header_value<uint64_t>("Content-Length");
    std::string ignored;
    if (length > 65536 || !connection->ReadBody(length, ignored)) {
      connection->CloseAfterReply();
      response.status = 413;
      response.set_content("the admin endpoint takes its settings in the query\n", "text/plain");
      return;
    }
    QueryFields fields = ParseQuery(SplitTarget(connection->RawTarget()).query);
    std::vector<Fault> added;
    std::vector<std::optional<Exchange>> cleared;
    for (const auto& [name, value] : fields) {
      if (name == "add") {
        FaultParse parsed = ParseFault(value);
        if (!parsed.fault) {
          response.status = 400;
          response.set_content(parsed.error + "\n", "text/plain");
          return;
        }
        added.push_back(*parsed.fault);
      } else if (name == "clear") {
        auto exchange = ParseExchange(value);
        if (!exchange && value != "all") {
          response.status = 400;
          response.set_content("clear takes folders, upload, list, download or all\n", "text/plain");
          return;
        }
        cleared.push_back(exchange);
      } else {
        response.status = 400;
        response.set_content("the admin endpoint takes add=FAULT and clear=EXCHANGE|all\n", "text/plain");
        return;
      }
    }
    for (const auto& exchange : cleared) faults_.Clear(exchange);
    for (auto& fault : added) faults_.Add(std::move(fault));
  }
  std::string listing;
  for (const auto& fault : faults_.List()) listing += FormatFault(fault) + "\n";
  response.set_content(listing, "text/plain");
}

}  // namespace torvo::service
