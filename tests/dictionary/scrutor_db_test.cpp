// A whole run over a database built by scrutor-db from a JSON description:
// every table's pass, the /K lines and the counters of /S.
#include <gtest/gtest.h>

#include <string>

#include "run_process.h"

namespace {

const char kDescription[] = R"({
  "owner": "Dict0wn",
  "tables": [
    {"id": 1, "name": "Orders", "location": "DATA\\ORDERS.DAT"},
    {"id": 2, "name": "Empty", "location": "EMPTY.DAT"},
    {"id": 3, "name": "Missing", "location": "MISSING.DAT"}
  ],
  "fields": [
    {"id": 10, "table": 1, "name": "OrderId", "type": 14, "offset": 0, "size": 4},
    {"id": 11, "table": 1, "name": "Region", "type": 14, "offset": 4, "size": 2},
    {"id": 12, "table": 1, "name": "Branch", "type": 14, "offset": 6, "size": 2},
    {"id": 13, "table": 1, "name": "Desk", "type": 14, "offset": 8, "size": 2},
    {"id": 14, "table": 1, "name": "Customer", "type": 0, "offset": 10, "size": 8},
    {"id": 15, "table": 1, "name": "Grade", "type": 0, "offset": 18, "size": 1}
  ],
  "indexes": [
    {"table": 1, "field": 10, "number": 0, "part": 0, "flags": 0},
    {"table": 1, "field": 11, "number": 1, "part": 0, "flags": "0x0010"},
    {"table": 1, "field": 12, "number": 1, "part": 1, "flags": "0x0010"},
    {"table": 1, "field": 13, "number": 1, "part": 2, "flags": 0},
    {"table": 1, "field": 14, "number": 2, "part": 0, "flags": "0x0010"},
    {"table": 1, "field": 15, "number": 2, "part": 1, "flags": 0}
  ],
  "attributes": [],
  "files": [
    {"path": "DATA/ORDERS.DAT", "owner": "Dict0wn", "record_length": 64,
     "keys": [
       {"number": 0, "segments": [{"position": 1, "length": 4, "type": 14}]},
       {"number": 1, "segments": [{"position": 5, "length": 2, "type": 14},
                                  {"position": 7, "length": 2, "type": 14},
                                  {"position": 9, "length": 2, "type": 14}]},
       {"number": 2, "segments": [{"position": 11, "length": 8, "type": 0},
                                  {"position": 19, "length": 1, "type": 0}]}
     ]},
    {"path": "EMPTY.DAT", "owner": "Dict0wn", "record_length": 16, "keys": []}
  ]
})";

TEST(ScrutorDbRun, EveryTableIsPassedAndCounted) {
  TempDir dir;
  WriteFileBytes(dir.path() + "/db.json", kDescription);
  ProcessResult built =
      RunProcess({SCRUTOR_DB_BIN, "build", dir.path() + "/db.json", dir.path() + "/db"});
  ASSERT_EQ(built.exitCode, 0) << built.err;

  ProcessResult r = RunProcess({SCRUTOR_BIN, "*", "/K", "/S", "/P=Dict0wn"}, dir.path() + "/db",
                               "", /*stdinFromDevNull=*/true);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // FILE.DDF key 1 orders the tables by name: Empty, Missing, Orders.
  EXPECT_EQ(r.out,
            "Btrieve File MISSING.DAT Not Found.\n"
            "Starting on Key 0 of 3\n"
            "Starting on Key 1 of 3\n"
            "Starting on Key 1 of 3\n"
            "Starting on Key 1 of 3\n"
            "Starting on Key 2 of 3\n"
            "Starting on Key 2 of 3\n"
            "\nWork completed.\n"
            "Files Processed = 2\n"
            "Files Rejected  = 1\n"
            "Btrieve Keys    = 3\n"
            "Indices Verified= 6\n"
            "Indices Needed  = 0\n"
            "Indices Corrupt = 0\n");
}

}  // namespace
