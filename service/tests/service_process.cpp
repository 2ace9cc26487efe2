#include "service_process.h"

#include "test_store.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <httplib.h>

extern char** environ;

namespace torvo::service::testing {

namespace {

std::vector<char*> Argv(std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return argv;
}

// Spawns the binary with stdout to a pipe and stderr to a file.
pid_t Spawn(std::vector<std::string> args, int& stdoutRead, const std::string& stderrFile) {
  args.insert(args.begin(), TORVO_SERVICE_BINARY);
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, stderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  auto argv = Argv(args);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (rc != 0) throw std::runtime_error("cannot start " + args[0]);
  stdoutRead = pipeFds[0];
  return pid;
}

uint32_t Crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFF;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
  }
  return ~crc;
}

std::string BigEndian(uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}

std::string Chunk(const std::string& type, const std::string& data) {
  return BigEndian(static_cast<uint32_t>(data.size())) + type + data + BigEndian(Crc32(type + data));
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "torvo-service-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

CommandResult RunCommand(const std::vector<std::string>& args) {
  int out = -1;
  pid_t pid = Spawn(WithTestStore(args), out, "/dev/null");
  CommandResult result;
  // A command that does not end within a minute is killed and counts as failed (-1). A command
  // hashes a password (Argon2id): under the address sanitizer on a loaded machine that alone has
  // taken seconds, so the limit is for a hang, not for slowness.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  char buffer[4096];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd fd{out, POLLIN, 0};
    if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    ssize_t n = read(out, buffer, sizeof buffer);
    if (n <= 0) break;
    result.out.append(buffer, static_cast<size_t>(n));
  }
  close(out);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

ServiceProcess::ServiceProcess(const std::filesystem::path& dataDir, const std::vector<std::string>& extra)
    : logFile_(dataDir / "service.log") {
  std::vector<std::string> args = {"--port", "0"};
  if (std::find(extra.begin(), extra.end(), "--database") == extra.end()) {
    args.insert(args.end(), {"--data", dataDir.string()});
  }
  args.insert(args.end(), extra.begin(), extra.end());
  int out = -1;
  pid_ = Spawn(WithTestStore(args), out, logFile_.string());
  // The first line of standard output says where it listens (a minute at most: a sanitized build
  // opening a PostgreSQL store on a loaded machine is slow, not hung).
  std::string line;
  pollfd fd{out, POLLIN, 0};
  while (line.find('\n') == std::string::npos && poll(&fd, 1, 60000) > 0) {
    char c;
    if (read(out, &c, 1) != 1) break;
    line += c;
  }
  close(out);
  // On loopback, or on every address (--bind 0.0.0.0), loopback included.
  const std::string prefix = "listening on ";
  const size_t colon = line.rfind(':');
  if (!line.starts_with(prefix + "127.0.0.1:") && !line.starts_with(prefix + "0.0.0.0:")) {
    Stop();
    throw std::runtime_error("torvo-service did not start: " + line + Log());
  }
  port_ = std::stoi(line.substr(colon + 1));
}

ServiceProcess::~ServiceProcess() { Stop(); }

int ServiceProcess::Stop() {
  if (pid_ <= 0) return exitCode_;
  kill(pid_, SIGTERM);
  int status = 0;
  for (int i = 0; i < 500; ++i) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      return exitCode_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return exitCode_ = -1;
}

void ServiceProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string ServiceProcess::Log() const {
  std::ifstream in(logFile_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

RawClient::RawClient(int port) {
  socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("cannot connect to the service");
  }
}

RawClient::~RawClient() { ::close(socket_); }

void RawClient::Send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(socket_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) throw std::runtime_error("send failed");
    sent += static_cast<size_t>(n);
  }
}

Reply RawClient::Read() {
  Reply reply;
  reply.raw = std::move(pending_);
  pending_.clear();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  size_t headEnd = std::string::npos;
  uint64_t length = 0;
  for (;;) {
    if (headEnd == std::string::npos && (headEnd = reply.raw.find("\r\n\r\n")) != std::string::npos) {
      std::istringstream head(reply.raw.substr(0, headEnd));
      std::string line;
      std::getline(head, line);
      reply.status = std::atoi(line.substr(9, 3).c_str());
      while (std::getline(head, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string value = line.substr(colon + 1);
        while (!value.empty() && value.front() == ' ') value.erase(0, 1);
        reply.headers[name] = value;
      }
      length = std::stoull(reply.headers.count("content-length") ? reply.headers["content-length"] : "0");
    }
    if (headEnd != std::string::npos && reply.raw.size() >= headEnd + 4 + length) {
      pending_ = reply.raw.substr(headEnd + 4 + length);
      reply.raw.resize(headEnd + 4 + length);
      reply.complete = true;
      break;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd fd{socket_, POLLIN, 0};
    if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) break;
    std::vector<char> buffer(1 << 20);
    ssize_t n = ::recv(socket_, buffer.data(), buffer.size(), 0);
    if (n <= 0) {
      reply.closed = true;
      break;
    }
    reply.pieces.push_back({std::chrono::steady_clock::now(), std::string(buffer.data(), static_cast<size_t>(n))});
    reply.raw.append(buffer.data(), static_cast<size_t>(n));
  }
  if (headEnd != std::string::npos) reply.body = reply.raw.substr(headEnd + 4);
  return reply;
}

Reply RawClient::Get(const std::string& target) {
  Send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  return Read();
}

bool RawClient::ServerClosed(int waitMs) {
  pollfd fd{socket_, POLLIN, 0};
  if (poll(&fd, 1, waitMs) <= 0) return false;
  char c;
  return ::recv(socket_, &c, 1, MSG_PEEK) == 0;
}

std::string MakePng(size_t size, char seed) {
  // 1 x 1 RGB; the picture data is a zlib stream with one stored block.
  std::string header = std::string("\x89PNG\r\n\x1A\n", 8);
  std::string ihdr = Chunk("IHDR", BigEndian(1) + BigEndian(1) + std::string("\x08\x02\x00\x00\x00", 5));
  std::string raw("\x00\x10\x20\x30", 4);
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  std::string zlib = std::string("\x78\x01\x01\x04\x00\xFB\xFF", 7) + raw + BigEndian(b << 16 | a);
  std::string idat = Chunk("IDAT", zlib);
  std::string iend = Chunk("IEND", "");
  size_t fixed = header.size() + ihdr.size() + idat.size() + iend.size() + 12 + 2;
  if (size < fixed) throw std::invalid_argument("MakePng: too small");
  std::string text = std::string("c\0", 2) + std::string(size - fixed, seed);
  std::string png = header + ihdr + idat + Chunk("tEXt", text) + iend;
  return png;
}

std::string EscapeAll(const std::string& bytes) {
  std::string out;
  char escaped[4];
  for (unsigned char c : bytes) {
    std::snprintf(escaped, sizeof escaped, "%%%02X", c);
    out += escaped;
  }
  return out;
}

std::string UploadRequest(const UploadFields& fields, const std::string& png) {
  std::string target = "http://" + fields.host + "/imgUpload.php?tid=" + fields.tid + "&url=" + EscapeAll(fields.url) +
                       "&title=" + EscapeAll(fields.title) + "&note=" + EscapeAll(fields.note) +
                       "&public=" + fields.visibility + "&folder=" + fields.folder;
  std::string body = "--7d4b2315b01da\r\n"
                     "Content-Disposition:name=\"MAX_FILE_SIZE\"\r\n"
                     "\r\n"
                     "\r\n"
                     "--7d4b2315b01da\r\n"
                     "Content-Disposition:attachment;name=\"uploadfile\";filename=\"a.png\"\r\n"
                     "Content-Type:image/pjpeg\r\n"
                     "Content-Transfer-Encoding: binary\r\n"
                     "\r\n";
  std::string tail = "\r\n--7d4b2315b01da\r\n";
  std::string head = "POST " + target + " HTTP/1.1\r\n" +
                     "Content-Type:multipart/form-data;boundary=7d4b2315b01da\r\n" + "Host:" + fields.host + "\r\n" +
                     "Content-Length:" + std::to_string(body.size() + png.size() + tail.size()) + "\r\n" + "\r\n";
  return head + body + png + tail;
}

std::string WebSessionCookie(int port, const std::string& fields) {
  httplib::Client client("127.0.0.1", port);
  auto reply = client.Post("/signin", {{"Origin", "http://127.0.0.1:" + std::to_string(port)}}, fields,
                           "application/x-www-form-urlencoded");
  if (!reply || reply->status != 303) return "";
  std::string cookie = reply->get_header_value("Set-Cookie");
  return cookie.substr(0, cookie.find(';'));
}

}  // namespace torvo::service::testing
