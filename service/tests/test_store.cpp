#include "test_store.h"

#include <libpq-fe.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "service/store/sqlite_store.h"

namespace torvo::service::testing {

namespace {

constexpr const char* kBinaries = "/usr/lib/postgresql/15/bin/";

// PostgreSQL refuses to run as root: as root, the cluster is nobody's.
const passwd* Unprivileged() { return geteuid() == 0 ? getpwnam("nobody") : nullptr; }

// Starts a PostgreSQL program as the unprivileged user; dies with us when asked (the server).
pid_t Start(std::vector<std::string> args, const std::string& log, bool dieWithUs) {
  const passwd* user = Unprivileged();
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    if (user && (setgid(user->pw_gid) != 0 || setuid(user->pw_uid) != 0)) _exit(126);
    if (dieWithUs) {
      prctl(PR_SET_PDEATHSIG, SIGQUIT);
      if (getppid() != parent) _exit(1);
    }
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::mutex registryMutex;
std::map<std::string, std::string> schemas;  // data folder -> connection string

}  // namespace

pid_t StartUnprivileged(const std::vector<std::string>& args, const std::filesystem::path& log) {
  return Start(args, log.string(), true);
}

void GiveToUnprivileged(const std::filesystem::path& path) {
  if (const passwd* user = Unprivileged()) {
    if (chown(path.c_str(), user->pw_uid, user->pw_gid) != 0) throw std::runtime_error("chown " + path.string());
  }
}

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

bool TestingPostgres() {
  const char* store = std::getenv("TORVO_TEST_STORE");
  return store && std::string(store) == "postgresql";
}

StoreLocation TestLocation(const std::filesystem::path& dataDir) {
  if (!TestingPostgres()) return StoreLocation{dataDir, {}};
  std::lock_guard lock(registryMutex);
  auto found = schemas.find(dataDir.string());
  if (found == schemas.end()) found = schemas.emplace(dataDir.string(), PostgresCluster::Shared().NewSchema()).first;
  return StoreLocation{{}, found->second};
}

std::unique_ptr<Store> OpenTestStore(const std::filesystem::path& dataDir, Store::Clock clock) {
  return OpenStore(TestLocation(dataDir), std::move(clock));
}

std::vector<std::string> WithTestStore(std::vector<std::string> args) {
  if (!TestingPostgres()) return args;
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == "--data") {
      args[i] = "--database";
      args[i + 1] = TestLocation(args[i + 1]).databaseUrl;
    }
  }
  return args;
}

PostgresCluster& PostgresCluster::Shared() {
  static PostgresCluster cluster;
  return cluster;
}

PostgresCluster::PostgresCluster() {
  std::string pattern = (std::filesystem::temp_directory_path() / "torvo-postgres-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
  folder_ = pattern;
  if (const passwd* user = Unprivileged()) {
    if (chown(folder_.c_str(), user->pw_uid, user->pw_gid) != 0) throw std::runtime_error("chown " + folder_.string());
  }
  std::string data = (folder_ / "data").string();
  std::string log = (folder_ / "server.log").string();
  if (Wait(Start({std::string(kBinaries) + "initdb", "-D", data, "-U", "torvo", "--auth=trust", "--encoding=UTF8",
                  "--locale=C.UTF-8", "--no-sync"},
                 log, false)) != 0) {
    throw std::runtime_error("initdb failed; see " + log);
  }
  // A few ports may be taken between our look and the server's bind: try again on another.
  for (int attempt = 0; attempt < 5 && postmaster_ < 0; ++attempt) Launch(FreePort());
  if (postmaster_ < 0) throw std::runtime_error("PostgreSQL did not start; see " + (folder_ / "server.log").string());
  Sql("CREATE DATABASE torvo TEMPLATE template0 ENCODING 'UTF8' LC_COLLATE 'C.UTF-8' LC_CTYPE 'C.UTF-8'");
}

void PostgresCluster::Launch(int port) {
  port_ = port;
  std::string log = (folder_ / "server.log").string();
  // fsync off: the tests kill the service, never the database server.
  pid_t pid = Start({std::string(kBinaries) + "postgres", "-D", (folder_ / "data").string(), "-p", std::to_string(port_),
                     "-k", folder_.string(), "-c", "listen_addresses=127.0.0.1", "-c", "fsync=off", "-c",
                     "max_connections=200", "-c", "shared_buffers=32MB"},
                    log, true);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    if (PQping(Url("postgres").c_str()) == PQPING_OK) {
      postmaster_ = pid;
      return;
    }
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;  // it ended: the port, most likely
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  kill(pid, SIGQUIT);
  waitpid(pid, nullptr, 0);
}

void PostgresCluster::Stop() {
  if (postmaster_ <= 0) return;
  kill(postmaster_, SIGINT);  // fast shutdown: its clients are told and cut off
  waitpid(postmaster_, nullptr, 0);
  postmaster_ = -1;
}

void PostgresCluster::Restart() {
  Stop();
  Launch(port_);
  if (postmaster_ < 0) throw std::runtime_error("PostgreSQL did not start again on port " + std::to_string(port_));
}

PostgresCluster::~PostgresCluster() {
  if (postmaster_ > 0) {
    kill(postmaster_, SIGQUIT);  // immediate shutdown: nothing here is worth a checkpoint
    waitpid(postmaster_, nullptr, 0);
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::string PostgresCluster::Url(const std::string& database, const std::string& schema) const {
  std::string url = "host=127.0.0.1 port=" + std::to_string(port_) + " user=torvo dbname=" + database;
  if (!schema.empty()) url += " options='-c search_path=" + schema + "'";
  return url;
}

void PostgresCluster::Sql(const std::string& sql) {
  PGconn* conn = PQconnectdb(Url("postgres").c_str());
  PGresult* result = PQexec(conn, sql.c_str());
  bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
  std::string message = PQerrorMessage(conn);
  PQclear(result);
  PQfinish(conn);
  if (!ok) throw std::runtime_error(sql + ": " + message);
}

std::string PostgresCluster::NewSchema() {
  std::string schema = "t" + std::to_string(++next_);
  PGconn* conn = PQconnectdb(Url("torvo").c_str());
  PGresult* result = PQexec(conn, ("CREATE SCHEMA " + schema).c_str());
  bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
  std::string message = PQerrorMessage(conn);
  PQclear(result);
  PQfinish(conn);
  if (!ok) throw std::runtime_error("CREATE SCHEMA: " + message);
  return Url("torvo", schema);
}

std::string PostgresCluster::NewDatabase(const std::string& encoding, const std::string& locale) {
  std::string name = "d" + std::to_string(++next_);
  Sql("CREATE DATABASE " + name + " TEMPLATE template0 ENCODING '" + encoding + "' LC_COLLATE '" + locale +
      "' LC_CTYPE '" + locale + "'");
  return Url(name);
}

}  // namespace torvo::service::testing
