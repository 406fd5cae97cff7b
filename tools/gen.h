// gen: a deterministic synthetic database for benchmarks and tests. The same
// options give the same bytes.
#pragma once

#include <cstdint>
#include <string>

#include <CLI/CLI.hpp>

namespace scrutordb {

struct GenOptions {
  std::string directory;  // must not exist, or be empty
  int tables = 0;
  int columns = 10;
  int keys = 3;
  int segments = 2;           // most segments of one key
  double drift = 0.1;         // fraction of keys whose definitions drift
  uint32_t records = 0;       // records per data file
  uint64_t seed = 1;
  uint64_t fileSize = 0;      // extend each data file to this size (sparse); 0: leave it
  bool sharedColumnIds = false;
};

// Registers the gen subcommand; it fills *options when it is chosen.
CLI::App* AddGenCommand(CLI::App& app, GenOptions* options);

// Writes the database; returns the exit code (0, 1 error, 2 bad options).
int RunGen(const GenOptions& options);

}  // namespace scrutordb
