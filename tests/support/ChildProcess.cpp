// Forked child processes for tests: plain, waiting, and traced to be killed at
// a chosen file-changing system call.
#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace corvald::test {

namespace {

constexpr int kCannotTrace = 97;
constexpr int kCannotChangeRights = 98;

[[noreturn]] void RunAndExit(const std::function<void()>& body) {
  try {
    body();
  } catch (...) {
    _exit(1);
  }
  _exit(0);
}

int WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  return status;
}

bool OpensForWriting(unsigned long long flags) { return (flags & (O_CREAT | O_TRUNC)) != 0; }

// Whether the call, with these arguments, changes a file or a folder.
bool ChangesFiles(const __ptrace_syscall_info& call) {
  const auto& args = call.entry.args;
  switch (call.entry.nr) {
    case SYS_write:
    case SYS_pwrite64:
    case SYS_writev:
    case SYS_pwritev:
    case SYS_pwritev2:
    case SYS_fsync:
    case SYS_fdatasync:
    case SYS_sync_file_range:
    case SYS_ftruncate:
    case SYS_truncate:
    case SYS_fallocate:
    case SYS_rename:
    case SYS_renameat:
    case SYS_renameat2:
    case SYS_link:
    case SYS_linkat:
    case SYS_unlink:
    case SYS_unlinkat:
    case SYS_mkdir:
    case SYS_mkdirat:
    case SYS_rmdir:
    case SYS_creat:
      return true;
    case SYS_open:
      return OpensForWriting(args[1]);
    case SYS_openat:
      return OpensForWriting(args[2]);
    default:
      return false;
  }
}

}  // namespace

int RunInChild(const std::function<void()>& body) {
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) RunAndExit(body);
  return WaitFor(pid);
}

ChildReport RunInChildReporting(const std::function<void(int fd)>& body) {
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    close(report[0]);
    RunAndExit([&] { body(report[1]); });
  }
  close(report[1]);
  ChildReport child;
  char buffer[512];
  for (ssize_t got; (got = read(report[0], buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    child.written.append(buffer, static_cast<std::size_t>(got));
  }
  close(report[0]);
  child.status = WaitFor(pid);
  return child;
}

void BecomeNobody() {
  constexpr uid_t kNobody = 65534;
  if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0 || setuid(0) == 0) {
    _exit(kCannotChangeRights);
  }
}

void LimitFileSize(std::size_t bytes) {
  const rlimit limit{bytes, bytes};
  if (signal(SIGXFSZ, SIG_IGN) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(kCannotChangeRights);
}

WaitingChild::WaitingChild(const std::function<void()>& body) {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    close(ready[0]);
    RunAndExit([&] {
      body();
      if (write(ready[1], "R", 1) != 1) throw std::runtime_error("cannot report");
      for (;;) pause();
    });
  }
  close(ready[1]);
  char answer = 0;
  const bool started = read(ready[0], &answer, 1) == 1;
  close(ready[0]);
  if (!started) {
    WaitFor(pid_);
    throw std::runtime_error("the waiting child failed");
  }
}

WaitingChild::~WaitingChild() {
  kill(pid_, SIGKILL);
  WaitFor(pid_);
}

TracedRun RunKilledAt(const std::function<void()>& body, std::size_t killAt) {
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(kCannotTrace);
    raise(SIGSTOP);
    RunAndExit(body);
  }
  int status = WaitFor(pid);
  if (!WIFSTOPPED(status) ||
      ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL) != 0) {
    kill(pid, SIGKILL);
    WaitFor(pid);
    throw std::runtime_error("the child cannot be traced (ptrace not permitted?)");
  }
  TracedRun run;
  long signal = 0;
  for (;;) {
    ptrace(PTRACE_SYSCALL, pid, nullptr, signal);
    status = WaitFor(pid);
    signal = 0;
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
      run.status = status;
      return run;
    }
    if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
      signal = WSTOPSIG(status);  // a signal of the child's own: pass it on
      continue;
    }
    __ptrace_syscall_info call{};
    if (ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof call, &call) <= 0) {
      kill(pid, SIGKILL);
      WaitFor(pid);
      throw std::runtime_error("PTRACE_GET_SYSCALL_INFO failed");
    }
    if (call.op != PTRACE_SYSCALL_INFO_ENTRY || !ChangesFiles(call)) continue;
    run.fileChanges.push_back(static_cast<long>(call.entry.nr));
    if (run.fileChanges.size() == killAt) {
      kill(pid, SIGKILL);
      WaitFor(pid);
      run.killed = true;
      return run;
    }
  }
}

}  // namespace corvald::test
