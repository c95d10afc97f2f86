// Preloaded into korva by the fault-injection tests: writes to files on disk
// fail with ENOSPC, as on a full disk, once KORVA_WRITE_BUDGET bytes have gone
// to such files in total (the write that crosses the budget is cut short
// first, as a real disk does). With KORVA_KILL_FORK=N, the N-th child process
// korva forks (a fold worker) is killed by SIGKILL as it starts, as the
// kernel ends a process when memory runs out.
#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using WriteFn = ssize_t (*)(int, const void*, size_t);
using WritevFn = ssize_t (*)(int, const struct iovec*, int);

std::atomic<long long> gRemaining{-1};  // -1: not read from the environment

// A file on the disk: not standard output or error (the test reads them),
// not a pipe or terminal, and not a file in memory (memfd).
bool IsDiskFile(int fd) {
  struct stat info {};
  if (fd <= 2 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
    return false;
  char link[64];
  char target[32] = {};
  std::snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
  const ssize_t n = ::readlink(link, target, sizeof(target) - 1);
  return !(n > 0 && std::strncmp(target, "/memfd:", 7) == 0);
}

// How many of `wanted` bytes may go out now; 0 sets ENOSPC.
size_t Allow(size_t wanted) {
  long long remaining = gRemaining.load();
  if (remaining < 0) {
    const char* text = std::getenv("KORVA_WRITE_BUDGET");
    remaining = text ? std::atoll(text) : (1LL << 62);
    gRemaining.store(remaining);
  }
  const size_t allowed = std::min<unsigned long long>(
      wanted, static_cast<unsigned long long>(remaining));
  gRemaining -= static_cast<long long>(allowed);
  if (allowed == 0 && wanted > 0) errno = ENOSPC;
  return allowed;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) ssize_t write(
    int fd, const void* buffer, size_t count) {
  static const auto real = reinterpret_cast<WriteFn>(dlsym(RTLD_NEXT, "write"));
  if (!IsDiskFile(fd)) return real(fd, buffer, count);
  const size_t allowed = Allow(count);
  if (allowed == 0 && count > 0) return -1;
  return real(fd, buffer, allowed);
}

extern "C" __attribute__((visibility("default"))) pid_t fork() {
  using ForkFn = pid_t (*)();
  static const auto real = reinterpret_cast<ForkFn>(dlsym(RTLD_NEXT, "fork"));
  static std::atomic<int> forks{0};
  const int number = ++forks;
  const pid_t pid = real();
  if (pid == 0) {
    const char* doomed = std::getenv("KORVA_KILL_FORK");
    if (doomed && std::atoi(doomed) == number) ::raise(SIGKILL);
  }
  return pid;
}

extern "C" __attribute__((visibility("default"))) ssize_t writev(
    int fd, const struct iovec* parts, int partCount) {
  static const auto real =
      reinterpret_cast<WritevFn>(dlsym(RTLD_NEXT, "writev"));
  if (!IsDiskFile(fd)) return real(fd, parts, partCount);
  // Written part by part through write() so the budget applies alike.
  ssize_t done = 0;
  for (int i = 0; i < partCount; ++i) {
    const ssize_t n = write(fd, parts[i].iov_base, parts[i].iov_len);
    if (n < 0) return done > 0 ? done : -1;
    done += n;
    if (static_cast<size_t>(n) < parts[i].iov_len) break;
  }
  return done;
}
