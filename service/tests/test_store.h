#pragma once
// The store the service's tests run against. By default the embedded store in each test's data
// folder; with TORVO_TEST_STORE=postgresql every data folder stands for a schema of its own in a
// PostgreSQL cluster that the test program starts once (initdb in a temporary folder, a free
// port, as an unprivileged user when run as root) and stops when it ends.
#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "service/store/store.h"

namespace torvo::service::testing {

bool TestingPostgres();

// Where the tests' store for this data folder lives (the same for every call with the folder).
StoreLocation TestLocation(const std::filesystem::path& dataDir);
std::unique_ptr<Store> OpenTestStore(const std::filesystem::path& dataDir, Store::Clock clock = nullptr);

// The command line with every "--data DIR" turned into "--database URL" of DIR's schema when the
// tests run against PostgreSQL.
std::vector<std::string> WithTestStore(std::vector<std::string> args);

// Starts a program as the unprivileged user when we are root (PostgreSQL's programs refuse root),
// its output appended to `log`; it gets SIGQUIT when this program ends.
pid_t StartUnprivileged(const std::vector<std::string>& args, const std::filesystem::path& log);
// Makes a file or folder the unprivileged user's (nothing when we are not root).
void GiveToUnprivileged(const std::filesystem::path& path);

// A loopback port that nothing listens on at the moment.
int FreePort();

// A PostgreSQL cluster of the test program's own.
class PostgresCluster {
 public:
  // Started at the first call; stopped and removed at the program's end.
  static PostgresCluster& Shared();
  // One of a test's own (to stop and start again).
  PostgresCluster();
  ~PostgresCluster();
  PostgresCluster(const PostgresCluster&) = delete;
  PostgresCluster& operator=(const PostgresCluster&) = delete;
  // Stops the server (fast shutdown); Restart starts it again on the same port.
  void Stop();
  void Restart();
  // A new schema of the test database, as a libpq connection string that selects it.
  std::string NewSchema();
  // A new database of these encoding and locale, as a connection string.
  std::string NewDatabase(const std::string& encoding, const std::string& locale);
  std::string Url(const std::string& database, const std::string& schema = {}) const;
  int port() const { return port_; }
  const std::filesystem::path& folder() const { return folder_; }

 private:
  void Launch(int port);  // sets postmaster_ when the server answers on the port
  void Sql(const std::string& sql);
  std::filesystem::path folder_;
  int port_ = 0;
  pid_t postmaster_ = -1;
  int next_ = 0;
};

}  // namespace torvo::service::testing
