#pragma once
// The command line of torvo-service: its options, read once for every command, and the checks
// that a command was given only what it takes.
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "service/store/store.h"

namespace torvo::service {

struct Options {
  std::string data;
  std::string database;
  std::optional<int> port;
  std::string bind = "127.0.0.1";
  std::string uploadHost;
  std::string imageBase;
  std::string publicAddress;
  std::string device;
  std::vector<std::string> faults;
  std::string readyFile;
  std::optional<int32_t> number;
  std::optional<std::string> name;
  std::optional<int32_t> folder;
  bool isPrivate = false;
  std::string url, title, note;
  std::optional<std::string> toolbarId;
  std::optional<std::string> passwordFile;
  std::vector<std::string> positional;
  std::vector<std::string> given;  // long names of the options on the command line
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads the options after the command (and TORVO_DATABASE when neither --data nor --database is
// given). Throws UsageError.
Options Parse(std::vector<std::string> args);

// Refuses options the command does not take and a wrong number of arguments; every command takes
// --data or --database, one of them.
void Expect(const Options& options, const std::string& command, std::vector<std::string> allowed, size_t arguments,
            size_t mostArguments = 0);

// The store the options name: the embedded one in --data, or the PostgreSQL database.
std::unique_ptr<Store> Open(const Options& options);

}  // namespace torvo::service
