#pragma once
// The store the service's tests run against. By default the embedded store in each test's data
// folder; with TORVO_TEST_STORE=postgresql every data folder stands for a schema of its own in a
// PostgreSQL cluster that the test program starts once (initdb in a temporary folder, a free
// port, as an unprivileged user when run as root) and stops when it ends.
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

// A loopback port that nothing listens on at the moment.
int FreePort();

// A PostgreSQL cluster of the test program's own.
class PostgresCluster {
 public:
  // Started at the first call; stopped and removed at the program's end.
  static PostgresCluster& Shared();
  ~PostgresCluster();
  // A new schema of the test database, as a libpq connection string that selects it.
  std::string NewSchema();
  // A new database of these encoding and locale, as a connection string.
  std::string NewDatabase(const std::string& encoding, const std::string& locale);
  std::string Url(const std::string& database, const std::string& schema = {}) const;
  int port() const { return port_; }
  const std::filesystem::path& folder() const { return folder_; }

 private:
  PostgresCluster();
  void Sql(const std::string& sql);
  std::filesystem::path folder_;
  int port_ = 0;
  pid_t postmaster_ = -1;
  int next_ = 0;
};

}  // namespace torvo::service::testing
