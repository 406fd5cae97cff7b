// The commands of scrutor-db. Each returns the process exit code: 0 success,
// 1 an error in the description, a file or the record manager (the message
// is on standard error).
#pragma once

#include <optional>
#include <string>

namespace scrutordb {

int RunBuild(const std::string& descriptionPath, const std::string& directory, bool force);
int RunExport(const std::string& directory, const std::optional<std::string>& owner,
              bool withRecords);
int RunDump(const std::string& file, const std::optional<std::string>& owner);

// Writes "scrutor-db: <message>" to standard error and returns 1.
int Error(const std::string& message);

}  // namespace scrutordb
