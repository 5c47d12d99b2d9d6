#pragma once

// Child processes forked from a test: a second program at the same files, one
// that keeps running beside the test, and one killed at a chosen system call.
// The child runs a copy of the test process (the test programs have a single
// thread, so forking them is safe) and ends with _exit, never returning into
// the test.

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace corvald::test {

// Runs `body` in a child and waits for it. The child ends with _exit(0) after
// `body`, or _exit(1) when `body` throws, unless `body` ends it first. Returns
// the child's wait status.
int RunInChild(const std::function<void()>& body);

// What a child wrote to the descriptor it was given, and its wait status.
struct ChildReport {
  std::string written;
  int status = 0;
};

// Like RunInChild, but `body` gets the write end of a pipe; returns what it wrote.
ChildReport RunInChildReporting(const std::function<void(int fd)>& body);

// For a child: drops root's rights for good and becomes the user "nobody", for
// whom permission bits count. Ends the child with _exit(98) when it cannot.
void BecomeNobody();

// For a child: files may grow to `bytes` and no further; a write beyond fails
// with EFBIG instead of ending the process. Ends the child with _exit(98) when it
// cannot.
void LimitFileSize(std::size_t bytes);

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
