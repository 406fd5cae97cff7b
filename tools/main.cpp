// scrutor-db: builds a database from a JSON description, and writes one back
// out. Exit codes: 0 success, 1 error (message on standard error), 2 usage.
#include <iostream>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "gen.h"

namespace scrutordb {
int Error(const std::string& message) {
  std::cerr << "scrutor-db: " << message << "\n";
  return 1;
}
}  // namespace scrutordb

int main(int argc, char** argv) {
  CLI::App app{"Builds a keyed-file database from a JSON description, and writes one back out.",
               "scrutor-db"};
  app.require_subcommand(1);

  std::string description, directory, file;
  bool force = false, records = false;
  std::optional<std::string> owner;

  CLI::App* build = app.add_subcommand("build", "Write the database a description describes");
  build->add_option("DESCRIPTION", description, "the JSON description; - reads standard input")
      ->required();
  build->add_option("DIRECTORY", directory, "where the files are written")->required();
  build->add_flag("--force", force, "overwrite existing files");

  CLI::App* exportCmd = app.add_subcommand("export", "Print a database as a description");
  exportCmd->add_option("DIRECTORY", directory, "the folder of the dictionary files")->required();
  exportCmd->add_option("--owner", owner, "owner name to open the files with");
  exportCmd->add_flag("--records", records, "include the data files' records");

  CLI::App* dump = app.add_subcommand("dump", "Print one file's key definitions and records");
  dump->add_option("FILE", file, "the file")->required();
  dump->add_option("--owner", owner, "owner name to open the file with");

  scrutordb::GenOptions genOptions;
  CLI::App* gen = scrutordb::AddGenCommand(app, &genOptions);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  if (*gen) return scrutordb::RunGen(genOptions);
  if (*build) return scrutordb::RunBuild(description, directory, force);
  if (*exportCmd) return scrutordb::RunExport(directory, owner, records);
  return scrutordb::RunDump(file, owner);
}
