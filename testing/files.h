#ifndef KORVA_TESTING_FILES_H_
#define KORVA_TESTING_FILES_H_

#include <filesystem>
#include <string>
#include <vector>

namespace Korva::Testing {

namespace fs = std::filesystem;

// The whole file as bytes; "" when it cannot be read.
std::string ReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const std::string& text);

// Occurrences of `what` in `text`, overlapping ones included.
int Count(const std::string& text, const std::string& what);

// The names in `dir`, sorted.
std::vector<std::string> Files(const fs::path& dir);

// A fixed pseudo-random byte sequence, one byte in seven a NUL.
std::string BinaryBytes(size_t size);

// A new empty folder below the temporary folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& Path() const { return path_; }
  std::string operator/(const std::string& name) const {
    return (path_ / name).string();
  }

 private:
  fs::path path_;
};

}  // namespace Korva::Testing

#endif  // KORVA_TESTING_FILES_H_
