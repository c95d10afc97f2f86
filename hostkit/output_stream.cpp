#include "korva/hostkit/output_stream.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace Korva::HostKit {
namespace {

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= 9 &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

// True when `folder` is this process's descriptor folder, however spelled:
// /proc/PID/fd or /proc/PID/task/TID/fd once links are resolved.
bool IsOwnDescriptorFolder(const std::string& folder) {
  char* real = ::realpath(folder.c_str(), nullptr);
  if (real == nullptr) return false;
  const std::string path = real;
  std::free(real);
  const std::string own = "/proc/" + std::to_string(::getpid());
  if (path == own + "/fd") return true;
  const std::string task = own + "/task/";
  if (path.compare(0, task.size(), task) != 0 ||
      path.size() < task.size() + 4 ||
      path.compare(path.size() - 3, 3, "/fd") != 0)
    return false;
  return AllDigits(path.substr(task.size(), path.size() - 3 - task.size()));
}

// The descriptor `path` itself names, before any link of it is followed.
std::optional<int> DescriptorEntry(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string name =
      slash == std::string::npos ? path : path.substr(slash + 1);
  if (!AllDigits(name)) return std::nullopt;
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  if (!IsOwnDescriptorFolder(folder)) return std::nullopt;
  return std::atoi(name.c_str());
}

}  // namespace

std::optional<int> OutputDescriptor(const std::string& path) {
  if (path == "-") return STDOUT_FILENO;
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    if (const auto fd = DescriptorEntry(current)) return fd;
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
      return std::nullopt;
    char target[PATH_MAX + 1];
    const ssize_t n = ::readlink(current.c_str(), target, PATH_MAX);
    if (n <= 0) return std::nullopt;
    target[n] = '\0';
    const size_t slash = current.find_last_of('/');
    current = target[0] == '/' || slash == std::string::npos
                  ? std::string(target)
                  : current.substr(0, slash + 1) + target;
  }
  return std::nullopt;
}

std::string DescriptorName(int fd) {
  if (fd == STDOUT_FILENO) return "standard output";
  if (fd == STDERR_FILENO) return "standard error";
  return "descriptor " + std::to_string(fd);
}

}  // namespace Korva::HostKit
