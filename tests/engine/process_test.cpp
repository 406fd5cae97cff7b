// Several processes on one file: a writer killed at random moments, and two
// writers at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <set>
#include <sstream>

#include "engine_test_util.h"
#include "run_process.h"

namespace {

using namespace enginetest;

engine::FileDef Def() {
  engine::FileDef def;
  def.recordLength = 8;
  def.variable = true;
  def.maxRecordLength = 200;
  def.keys.push_back(Key(0, {Seg(1, 4, 14)}));
  def.keys.push_back(Key(1, {Seg(5, 4, 0, 0x0001 | 0x0400)}));
  return def;
}

Bytes Rec(uint32_t id) {
  Bytes r(8 + id % 50, static_cast<uint8_t>('a' + id % 26));
  for (int i = 0; i < 4; ++i) r[static_cast<size_t>(i)] = static_cast<uint8_t>(id >> (8 * i));
  return r;
}

Bytes IdKey(uint32_t id) {
  Bytes r = Rec(id);
  return Bytes(r.begin(), r.begin() + 4);
}

std::set<uint32_t> Ids(const std::string& path) {
  std::vector<Bytes> records;
  std::set<uint32_t> ids;
  EXPECT_EQ(engine::ReadAllRecords(path, "", &records), 0);
  for (const Bytes& r : records) {
    EXPECT_EQ(r, Rec(U32(r, 0)));
    ids.insert(U32(r, 0));
  }
  return ids;
}

void Say(int fd, const std::string& line) {
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n <= 0) _exit(3);
    p += n;
    left -= static_cast<size_t>(n);
  }
}

// The child: inserts new ids and deletes old ones for ever, announcing each
// change before it starts ("B") and after it answered 0 ("A").
[[noreturn]] void Churn(const std::string& path, uint32_t firstId, uint32_t seed, int out) {
  std::mt19937 rng(seed);
  std::vector<Bytes> records;
  if (engine::ReadAllRecords(path, "", &records) != 0) _exit(4);
  std::vector<uint32_t> live;
  for (const Bytes& r : records) live.push_back(U32(r, 0));
  Open f(path);
  if (f.status != 0) _exit(5);
  for (uint32_t next = firstId;; ) {
    bool del = !live.empty() && rng() % 3 == 0;
    if (del) {
      size_t at = rng() % live.size();
      uint32_t id = live[at];
      if (f.Equal(0, IdKey(id)) != 0) _exit(6);
      Say(out, "B D " + std::to_string(id) + "\n");
      if (f.Delete() != 0) _exit(7);
      Say(out, "A\n");
      live.erase(live.begin() + static_cast<long>(at));
    } else {
      uint32_t id = next++;
      Say(out, "B I " + std::to_string(id) + "\n");
      if (f.Insert(Rec(id)) != 0) _exit(8);
      Say(out, "A\n");
      live.push_back(id);
    }
  }
}

TEST(Processes, WriterKilledAtRandomMomentsLosesNothingAnswered) {
  TempDir dir;
  std::string path = dir.path() + "/CRASH.DAT";
  ASSERT_EQ(engine::CreateFile(path, Def()), 0);
  const uint32_t seed = 7177;
  std::mt19937 rng(seed);
  std::set<uint32_t> model;
  int inflightSeen = 0;
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      try {
        Churn(path, static_cast<uint32_t>(round + 1) * 100000u, seed + static_cast<uint32_t>(round), fds[1]);
      } catch (...) {
        _exit(9);  // never fall back into the test runner
      }
    }
    close(fds[1]);
    usleep(static_cast<useconds_t>(2000 + rng() % 40000));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: " << WEXITSTATUS(status);
    std::string log;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) log.append(buf, static_cast<size_t>(n));
    close(fds[0]);

    // Replay the answered changes; keep the one in flight aside.
    std::istringstream in(log);
    std::string word;
    char kind = 0;
    uint32_t id = 0;
    bool open = false;
    while (in >> word) {
      if (word == "B") {
        std::string k;
        if (!(in >> k >> id)) break;  // cut in the middle of the line
        kind = k[0];
        open = true;
      } else if (word == "A" && open) {
        if (kind == 'I') model.insert(id);
        else model.erase(id);
        open = false;
      }
    }
    std::string problem;
    ASSERT_EQ(engine::VerifyFile(path, "", &problem), 0) << problem;
    std::set<uint32_t> ids = Ids(path);
    if (open && ids != model) {
      std::set<uint32_t> after = model;
      if (kind == 'I') after.insert(id);
      else after.erase(id);
      ASSERT_EQ(ids, after);
      model = after;
      ++inflightSeen;
    } else {
      ASSERT_EQ(ids, model);
    }
  }
  EXPECT_FALSE(model.empty());
  RecordProperty("changes_in_flight_that_landed", inflightSeen);
}

TEST(Processes, TwoWritersAtOnceKeepEveryChange) {
  TempDir dir;
  std::string path = dir.path() + "/TWO.DAT";
  ASSERT_EQ(engine::CreateFile(path, Def()), 0);
  const int kEach = 150;
  pid_t pids[2];
  for (int w = 0; w < 2; ++w) {
    pids[w] = fork();
    ASSERT_GE(pids[w], 0);
    if (pids[w] == 0) try {
      Open f(path);
      if (f.status != 0) _exit(10);
      int failures = 0;
      for (int i = 0; i < kEach; ++i) {
        uint32_t id = static_cast<uint32_t>(w * 1000000 + i);
        int st;
        while ((st = f.Insert(Rec(id))) == 85) {}
        if (st != 0) ++failures;
        if (i % 3 == 2) {
          uint32_t victim = id - 1;
          if (f.Equal(0, IdKey(victim)) != 0) ++failures;
          while ((st = f.Delete()) == 85) {}
          if (st != 0) ++failures;
        }
        // Reads see whole records of both writers.
        Bytes rec;
        Bytes mine = Rec(id);
        if (f.Equal(1, Bytes(mine.begin() + 4, mine.begin() + 8), &rec) != 0) ++failures;
      }
      _exit(failures > 100 ? 100 : failures);
    } catch (...) {
      _exit(101);  // never fall back into the test runner
    }
  }
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  std::set<uint32_t> expected;
  for (int w = 0; w < 2; ++w)
    for (int i = 0; i < kEach; ++i)
      if (i % 3 != 1) expected.insert(static_cast<uint32_t>(w * 1000000 + i));
  std::string problem;
  ASSERT_EQ(engine::VerifyFile(path, "", &problem), 0) << problem;
  EXPECT_EQ(Ids(path), expected);
  Open f(path);
  Bytes stat;
  ASSERT_EQ(f.Stat(&stat), 0);
  EXPECT_EQ(U32(stat, 6), expected.size());
  engine::Entry(kReset, nullptr, nullptr, nullptr, nullptr, 0, 0);
}

// An open that has loaded the file sees another process's changes: at once
// for a change of its own process, and within a millisecond or two for a
// change made elsewhere (reads rely on their last look at the commit for
// at most a millisecond).
TEST(Processes, ReadersSeeAnotherProcessesChanges) {
  TempDir dir;
  std::string path = dir.path() + "/SEEN.DAT";
  ASSERT_EQ(engine::CreateFile(path, Def()), 0);
  Open reader(path);
  ASSERT_EQ(reader.Insert(Rec(1)), 0);
  ASSERT_EQ(reader.Equal(0, IdKey(1)), 0);
  ASSERT_EQ(reader.Equal(0, IdKey(2)), 4);  // loaded, and 2 is not there yet
  auto inChild = [&](auto change) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      Open writer(path);
      _exit(writer.status == 0 && change(writer) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
  };
  inChild([](Open& w) { return w.Insert(Rec(2)); });
  usleep(3000);
  EXPECT_EQ(reader.Equal(0, IdKey(2)), 0) << "an insert by another process";
  Bytes stat;
  ASSERT_EQ(reader.Stat(&stat), 0);
  EXPECT_EQ(U32(stat, 6), 2u);
  inChild([](Open& w) { return w.Equal(0, IdKey(1)) == 0 ? w.Delete() : 1; });
  usleep(3000);
  EXPECT_EQ(reader.Equal(0, IdKey(1)), 4) << "a delete by another process";
  // Another open of this process: seen at once.
  Open other(path);
  ASSERT_EQ(other.Insert(Rec(3)), 0);
  EXPECT_EQ(reader.Equal(0, IdKey(3)), 0) << "an insert by another open of this process";
  engine::Entry(kReset, nullptr, nullptr, nullptr, nullptr, 0, 0);
}

}  // namespace
