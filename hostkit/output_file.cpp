#include "korva/hostkit/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "korva/hostkit/error.h"
#include "korva/hostkit/output_stream.h"

namespace Korva::HostKit {
namespace {

// The temporary file being written, for the signal handler to remove. Outputs
// are written one at a time from the main thread.
char gPendingTemp[PATH_MAX + 1];
volatile std::sig_atomic_t gHasPendingTemp = 0;

extern "C" void RemovePendingTempAndDie(int signalNumber) {
  if (gHasPendingTemp) ::unlink(gPendingTemp);
  std::signal(signalNumber, SIG_DFL);
  std::raise(signalNumber);
}

void InstallInterruptHandlers() {
  static const bool installed = [] {
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction action {};
      action.sa_handler = RemovePendingTempAndDie;
      sigemptyset(&action.sa_mask);
      struct sigaction previous {};
      // A signal the process ignores or handles itself (an embedding
      // interpreter, say) keeps its disposition.
      if (sigaction(s, nullptr, &previous) != 0 ||
          previous.sa_handler != SIG_DFL || (previous.sa_flags & SA_SIGINFO))
        continue;
      sigaction(s, &action, nullptr);
    }
    return true;
  }();
  (void)installed;
}

std::string Reason(int error) { return std::strerror(error); }

Error OutputError(const std::string& message) {
  return Error(ErrorKind::kOutput, message);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a path names, through symbolic links (a relative target is taken
// from the link's folder); the path itself when it is not a link.
std::string Resolve(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
      return current;
    char target[PATH_MAX + 1];
    const ssize_t n = ::readlink(current.c_str(), target, PATH_MAX);
    if (n <= 0) return current;
    target[n] = '\0';
    current = target[0] == '/' ? std::string(target)
                               : FolderOf(current) + "/" + target;
  }
  throw OutputError("cannot write " + path + ": " + Reason(ELOOP));
}

// Why a descriptor cannot be written. EBADF: it is closed, or open for
// reading only, which is how a host keeps a standard descriptor that was
// closed at its start from being taken by a file it opens.
std::string StreamReason(int error) {
  return error == EBADF ? "it is closed or not open for writing"
                        : Reason(error);
}

// An output that names an open descriptor (OutputDescriptor): the content is
// made in a file in memory, then copied there, so nothing reaches the
// descriptor when making it fails.
void WriteToDescriptor(
    int out, const std::function<void(const std::string& tempPath)>& write) {
  const std::string name = DescriptorName(out);
  const int fd = ::memfd_create("korva-output", MFD_CLOEXEC);
  if (fd < 0) throw OutputError("cannot write " + name + ": " + Reason(errno));
  try {
    write("/proc/self/fd/" + std::to_string(fd));
  } catch (...) {
    ::close(fd);
    throw;
  }
  std::fflush(out == STDERR_FILENO ? stderr : stdout);
  char buffer[1 << 16];
  off_t at = 0;
  for (ssize_t n; (n = ::pread(fd, buffer, sizeof(buffer), at)) > 0; at += n)
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out, buffer + done, n - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        const int error = w < 0 ? errno : EIO;
        ::close(fd);
        throw OutputError("cannot write " + name + ": " + StreamReason(error));
      }
      done += w;
    }
  ::close(fd);
}

mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

void SyncFile(const std::string& path, const std::string& shownPath) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    throw OutputError("cannot write " + shownPath + ": " + Reason(error));
  }
  ::close(fd);
}

// Removes the temporary file unless the write went through.
class TempFile {
 public:
  explicit TempFile(std::string path) : path_(std::move(path)) {
    if (path_.size() <= PATH_MAX) {
      std::memcpy(gPendingTemp, path_.c_str(), path_.size() + 1);
      gHasPendingTemp = 1;
    }
  }
  ~TempFile() {
    gHasPendingTemp = 0;
    if (!kept_) ::unlink(path_.c_str());
  }
  void Keep() { kept_ = true; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  bool kept_ = false;
};

}  // namespace

void CheckWritable(const std::string& path) {
  if (const auto fd = OutputDescriptor(path)) {
    const int flags = ::fcntl(*fd, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY)
      throw OutputError("cannot write " + DescriptorName(*fd) + ": " +
                        StreamReason(EBADF));
    return;
  }
  const std::string target = Resolve(path);
  struct stat info {};
  if (::stat(target.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode))
      throw OutputError("cannot write " + path + ": it is a folder");
    if (!S_ISREG(info.st_mode)) {
      if (::access(target.c_str(), W_OK) != 0)
        throw OutputError("cannot write " + path + ": " + Reason(errno));
      return;
    }
  }
  const std::string folder = FolderOf(target);
  if (::stat(folder.c_str(), &info) != 0)
    throw OutputError("cannot write " + path + ": " + Reason(errno));
  if (!S_ISDIR(info.st_mode))
    throw OutputError("cannot write " + path + ": " + Reason(ENOTDIR));
  if (::access(folder.c_str(), W_OK) != 0)
    throw OutputError("cannot write " + path + ": " + Reason(errno));
}

void WriteAtomically(
    const std::string& path,
    const std::function<void(const std::string& tempPath)>& write) {
  if (const auto fd = OutputDescriptor(path))
    return WriteToDescriptor(*fd, write);
  InstallInterruptHandlers();
  // A link is written through: its target is replaced, the link stays.
  const std::string target = Resolve(path);
  struct stat info {};
  const bool exists = ::stat(target.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode))
    throw OutputError("cannot write " + path + ": it is a folder");
  // A device or a FIFO is written in place; replacing it would put a
  // regular file where the device was.
  if (exists && !S_ISREG(info.st_mode)) return write(target);
  const std::string folder = FolderOf(target);
  std::string pattern = folder + "/." + BaseName(target) + ".tmp-XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) throw OutputError("cannot write " + path + ": " + Reason(errno));
  TempFile temp(pattern);
  // mkstemp makes the file private; give it the mode of the file it
  // replaces, or the mode a new file would have.
  ::fchmod(fd, exists ? info.st_mode & 07777 : NewFileMode());
  ::close(fd);

  write(temp.Path());
  SyncFile(temp.Path(), path);
  if (::rename(temp.Path().c_str(), target.c_str()) != 0)
    throw OutputError("cannot write " + path + ": " + Reason(errno));
  temp.Keep();
  // The rename itself reaches the disk with the folder's entry.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

void WriteTextAtomically(const std::string& path, const std::string& text) {
  WriteAtomically(path, [&](const std::string& tempPath) {
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
      throw OutputError("cannot write " + path + ": " + Reason(errno));
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        const int error = errno;
        ::close(fd);
        throw OutputError("cannot write " + path + ": " + Reason(error));
      }
      done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0)
      throw OutputError("cannot write " + path + ": " + Reason(errno));
  });
}

void MakeDirectories(const std::string& path) {
  if (path.empty()) return;
  for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string prefix =
        end == std::string::npos ? path : path.substr(0, end);
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)
      throw OutputError("cannot create folder " + prefix + ": " +
                        Reason(errno));
    if (end == std::string::npos) break;
  }
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
    throw OutputError("cannot create folder " + path + ": not a folder");
}

}  // namespace Korva::HostKit
