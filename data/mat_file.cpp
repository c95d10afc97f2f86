#include "data/mat_file.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "data/reader_library.h"

namespace Korva::Data {

bool IsMatFile(const std::string& path) {
  if (path.size() < 4) return false;
  std::string end = path.substr(path.size() - 4);
  for (char& c : end)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return end == ".mat";
}

namespace {

// A copy of an input in a private folder of its own (mode 0700, in $TMPDIR
// or /tmp), removed with this object. Not a file in memory: HDF5, which
// reads version 7.3 files, needs a path it can resolve to a real file.
class PrivateCopy {
 public:
  PrivateCopy() = default;
  PrivateCopy(const PrivateCopy&) = delete;
  PrivateCopy& operator=(const PrivateCopy&) = delete;
  ~PrivateCopy() {
    if (!file_.empty()) ::unlink(file_.c_str());
    if (!folder_.empty()) ::rmdir(folder_.c_str());
  }

  // Copies `path`, showing each piece to `onBytes` on the way.
  void Make(const std::string& path, const ByteSink& onBytes) {
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
      throw DataError(path + ": cannot open: " + std::strerror(errno));
    try {
      struct stat info {};
      if (::fstat(in, &info) != 0 || S_ISDIR(info.st_mode))
        Fail(path, S_ISDIR(info.st_mode) ? EISDIR : errno);
      const char* tmp = std::getenv("TMPDIR");
      std::string folder =
          std::string(tmp && *tmp ? tmp : "/tmp") + "/korva-input-XXXXXX";
      if (::mkdtemp(folder.data()) == nullptr) Fail(path, errno);
      folder_ = folder;
      file_ = folder + "/input.mat";
      const int out =
          ::open(file_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (out < 0) Fail(path, errno);
      const int error = Copy(in, out, onBytes);
      if (::close(out) != 0 || error) Fail(path, error ? error : errno);
    } catch (...) {
      ::close(in);
      throw;
    }
    ::close(in);
  }
  const std::string& File() const { return file_; }

 private:
  [[noreturn]] static void Fail(const std::string& path, int error) {
    throw DataError(path + ": cannot read: " + std::strerror(error));
  }
  // 0, or the errno of the read or write that failed.
  static int Copy(int in, int out, const ByteSink& onBytes) {
    std::vector<char> block(1 << 20);
    for (;;) {
      const ssize_t n = ::read(in, block.data(), block.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return n < 0 ? errno : 0;
      if (onBytes)
        onBytes(std::string_view(block.data(), static_cast<size_t>(n)));
      for (ssize_t done = 0; done < n;) {
        const ssize_t w = ::write(out, block.data() + done, n - done);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) return errno;
        done += w;
      }
    }
  }

  std::string folder_, file_;
};

}  // namespace

Dataset LoadMat(const std::string& path,
                const MatVariables& variables,
                bool requireLabels,
                const ByteSink& onBytes) {
  // Opened once and kept: the reader's code may back objects it returned.
  static std::string reason;
  static void* const library = OpenReaderLibrary("libkorva_mat.so", reason);
  static const auto read = library == nullptr
                               ? nullptr
                               : reinterpret_cast<decltype(&korva_read_mat)>(
                                     ::dlsym(library, "korva_read_mat"));
  if (read == nullptr)
    throw DataError(path + ": cannot read MATLAB files: the MATLAB reader " +
                    "libkorva_mat.so cannot be loaded" +
                    (reason.empty() ? "" : " (" + reason + ")"));
  struct stat info {};
  PrivateCopy copy;
  if (onBytes || (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)))
    copy.Make(path, onBytes);
  const std::string& file = copy.File().empty() ? path : copy.File();
  Dataset data;
  std::string error;
  if (const int status = read(
          file.c_str(), path.c_str(), &variables, requireLabels, &data, &error))
    ThrowStatus(status, error);
  return data;
}

}  // namespace Korva::Data
