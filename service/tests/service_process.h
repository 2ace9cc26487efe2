#pragma once
// Helpers of the service's tests: a temporary data folder, the real torvo-service binary on a
// free loopback port, a raw TCP client that records how a reply arrives, and the upload request
// exactly as the upload tool writes it.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace torvo::service::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

struct CommandResult {
  int exitCode = -1;
  std::string out;
};

// Runs torvo-service with these arguments and waits for it (at most 10 seconds).
CommandResult RunCommand(const std::vector<std::string>& args);

class ServiceProcess {
 public:
  // Starts "torvo-service --port 0 --data DIR" plus extra arguments; waits for "listening on".
  explicit ServiceProcess(const std::filesystem::path& dataDir, const std::vector<std::string>& extra = {});
  ~ServiceProcess();
  int port() const { return port_; }
  // Sends SIGTERM and returns the exit status (-1 when it did not end within 5 seconds); once
  // stopped, returns that status again.
  int Stop();
  std::string Log() const;
  // Ends it with SIGKILL, as a crash would, and waits for it.
  void Kill();

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  int exitCode_ = -1;
  std::filesystem::path logFile_;
};

struct Piece {
  std::chrono::steady_clock::time_point at;
  std::string bytes;
};

struct Reply {
  std::vector<Piece> pieces;  // as the reads returned them
  std::string raw;            // head and body
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  bool complete = false;  // the announced length arrived
  bool closed = false;    // the server closed the connection
};

class RawClient {
 public:
  explicit RawClient(int port);
  ~RawClient();
  void Send(const std::string& bytes);
  // Reads one reply: until its announced length has arrived, the server closes, or 10 s pass.
  Reply Read();
  Reply Get(const std::string& target);  // keeps the connection open
  // True when the server closed the connection (nothing more arrives within the wait).
  bool ServerClosed(int waitMs = 2000);

 private:
  int socket_ = -1;
  std::string pending_;
};

// A valid PNG picture of exactly `size` bytes (a 1 x 1 picture padded with a text chunk).
std::string MakePng(size_t size, char seed = 'x');

// Every byte as "%" and two uppercase hexadecimal digits, as the upload tool escapes its fields.
std::string EscapeAll(const std::string& bytes);

struct UploadFields {
  std::string host = "127.0.0.1";
  std::string tid = "u1";      // as it goes into the query
  std::string url = "http://a.example/";  // code page 949 bytes, escaped here
  std::string title;
  std::string note;
  std::string visibility = "P";
  std::string folder = "0";
};

// The upload request, byte for byte as the upload tool sends it.
std::string UploadRequest(const UploadFields& fields, const std::string& png);

// Signs in on the web page at 127.0.0.1:port as the page's own form does (its Origin, the form
// `fields`); the session cookie as a Cookie header takes it ("name=value"), or "" when the sign-in
// was not taken (anything but the 303 to the list).
std::string WebSessionCookie(int port, const std::string& fields);

}  // namespace torvo::service::testing
