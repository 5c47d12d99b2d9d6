#pragma once

// Child processes forked from a test: a second program at the same files, one
// that keeps running beside the test, and one killed at a chosen system call.
// The child runs a copy of the test process (the test programs have a single
// thread, so forking them is safe) and ends with _exit, never returning into
// the test.

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <vector>

namespace corvald::test {

// Runs `body` in a child and waits for it. The child ends with _exit(0) after
// `body`, or _exit(1) when `body` throws, unless `body` ends it first. Returns
// the child's wait status.
int RunInChild(const std::function<void()>& body);

// A child that runs `body` and then stays alive, doing nothing, until the
// object goes away; it is then killed. The constructor returns once `body` has
// run and throws std::runtime_error when `body` failed.
class WaitingChild {
 public:
  explicit WaitingChild(const std::function<void()>& body);
  ~WaitingChild();
  WaitingChild(const WaitingChild&) = delete;
  WaitingChild& operator=(const WaitingChild&) = delete;

 private:
  pid_t pid_ = -1;
};

// What a traced child did.
struct TracedRun {
  // The file-changing system calls it began, in order (system call numbers);
  // when it was killed, the last one is the call it never made.
  std::vector<long> fileChanges;
  bool killed = false;
  // The wait status when it was not killed.
  int status = 0;
};

// Runs `body` in a child traced with ptrace and kills it with SIGKILL as it
// enters its `killAt`-th file-changing system call (1 for the first), before
// the call takes effect; with 0 it runs to its end. File-changing calls are
// those that write, sync, truncate, create, rename, link or delete files.
// Throws std::runtime_error when the child cannot be traced.
TracedRun RunKilledAt(const std::function<void()>& body, std::size_t killAt);

}  // namespace corvald::test
