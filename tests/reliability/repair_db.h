// A database with many ACS repairs for the reliability tests: its
// description, built with scrutor-db into a template directory, fresh copies
// of it, and the ATTRIB.DDF state before and after a complete repair.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "run_process.h"

namespace reliability {

// ATTRIB.DDF as key (column id and type, the file's unique key 0) -> record.
using AttribState = std::map<std::string, std::string>;

// What each table's key 1 segment needs from /A /F.
enum class Repair {
  kInsert,         // the key uses an ACS, ATTRIB.DDF has no "O" record
  kDeleteExtra,    // ATTRIB.DDF has an "O" record, the key has no ACS
  kDeleteInvalid,  // an "O" record on a column whose data type carries no ACS
  kNone,           // key and ATTRIB.DDF agree (an ACS and its record)
};

struct RepairTable {
  std::string name;    // T0, T1, ...
  int columnId;        // the key 1 column, the one that may need a repair
  Repair repair;
};

class RepairDatabase {
 public:
  // Describes tables of every kind in turn and builds them with scrutor-db.
  explicit RepairDatabase(int tables, const std::string& owner = "");
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  const std::vector<RepairTable>& tables() const { return tables_; }

  // A fresh copy of the built database in dir (created).
  void CopyTo(const std::string& dir) const;
  const std::string& templateDir() const { return templateDir_; }

  // ATTRIB.DDF of the database as built, and as a complete repair leaves it
  // (derived from the description, not from a run).
  const AttribState& original() const { return original_; }
  const AttribState& repaired() const { return repaired_; }

 private:
  std::unique_ptr<TempDir> root_;
  std::string templateDir_;
  std::vector<RepairTable> tables_;
  AttribState original_, repaired_;
  bool ok_ = false;
  std::string error_;
};

// Copies the database into dir and runs one whole `scrutor "*" /A /F` there;
// returns how long it took in microseconds, which sets the range of the
// moments at which the randomized tests interrupt a repair.
long TimeWholeRepair(const RepairDatabase& db, const std::string& dir, ProcessResult* result);

// Reads ATTRIB.DDF of the database in dir after checking its whole
// structure. Returns "" when sound, else what is wrong.
std::string ReadAttrib(const std::string& dir, AttribState* state,
                       const std::string& owner = "");

// Per key: "" when every key of state holds either its original or its
// repaired record (absence included), else the first key that holds neither.
std::string CheckOriginalOrRepaired(const AttribState& state, const AttribState& original,
                                    const AttribState& repaired);

// The tables whose repair printed an error line (" Error..."), found by the
// report header before it.
std::set<std::string> TablesWithErrorLines(const std::string& out);

// ATTRIB.DDF after a whole repair in which the tables named failed their
// repair and kept their original record. With oneFailure, a failed delete of
// an invalid record is followed by the same segment's second delete (the
// record also counts as an extra one), which then succeeds.
AttribState ExpectedAfterFailures(const RepairDatabase& db, const std::set<std::string>& failed,
                                  bool oneFailure);

// The key of ATTRIB.DDF for a column's "O" record.
std::string AttribKey(int columnId);

// The bytes of every file under dir except ATTRIB.DDF, by relative path.
std::map<std::string, std::string> OtherFiles(const std::string& dir);

// Rounds of a randomized test: SCRUTOR_RELIABILITY_ROUNDS when set (for
// longer soak runs), else the default.
int Rounds(int defaultRounds);

// Starts a program with its standard streams on /dev/null; returns its pid.
int SpawnQuiet(const std::vector<std::string>& argv, const std::string& cwd);

// Lines of text, without their line feeds.
std::vector<std::string> Lines(const std::string& text);

}  // namespace reliability
