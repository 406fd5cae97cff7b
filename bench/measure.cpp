// measure: runs a program several times and reports its wall time and peak
// resident memory, with its output discarded. One unmeasured run first
// warms the page cache.
//
//   bench_measure RUNS PROGRAM [ARGUMENTS...]
// prints: median_s min_s max_s max_rss_kib
// Exit code 1 when a run does not end with exit code 0.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// One run: its wall time and peak resident set (KiB); false when it failed.
bool RunOnce(char** argv, double* seconds, long* maxRss) {
  double start = Now();
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execvp(argv[0], argv);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return false;
  *seconds = Now() - start;
  *maxRss = usage.ru_maxrss;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "bench_measure: %s ended with %s %d\n", argv[0],
                 WIFEXITED(status) ? "exit code" : "signal",
                 WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 2 ? std::atoi(argv[1]) : 0;
  if (runs < 1) {
    std::fprintf(stderr, "usage: bench_measure RUNS PROGRAM [ARGUMENTS...]\n");
    return 2;
  }
  double seconds = 0;
  long rss = 0, maxRss = 0;
  if (!RunOnce(argv + 2, &seconds, &rss)) return 1;
  std::vector<double> times;
  for (int i = 0; i < runs; i++) {
    if (!RunOnce(argv + 2, &seconds, &rss)) return 1;
    times.push_back(seconds);
    maxRss = std::max(maxRss, rss);
  }
  std::sort(times.begin(), times.end());
  size_t n = times.size();
  double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
  std::printf("%.6f %.6f %.6f %ld\n", median, times.front(), times.back(), maxRss);
  return 0;
}
