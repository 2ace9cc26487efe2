#pragma once
// The administration commands of torvo-service: users, devices, folders and images, and the
// moves of a whole store (backup, restore, migrate). They work while the service runs.
#include <string>
#include <vector>

#include "service/admin/options.h"

namespace torvo::service {

int UserCommand(const Options& options, const std::string& action);
int DeviceCommand(const Options& options, const std::string& action);
int FolderCommand(const Options& options, const std::string& action);
int ImageCommand(const Options& options, const std::string& action);
// These two read their own options: they take only --data (and FILE).
int BackupCommand(const std::vector<std::string>& args, bool restore);
// Needs both --data and --database.
int MigrateCommand(const std::vector<std::string>& args);

}  // namespace torvo::service
