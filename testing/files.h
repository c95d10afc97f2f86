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

// An EDF+D file (BDF+D with `bdf`): channel Fz of `perRecord` samples in
// each 1 s record, sample k of the file the digital value digital(k) (the
// whole digital range maps to -100..100 uV), and an annotation signal of 24
// samples whose part of record r is `parts[r]`, its lists as written
// ("+0\x14\x14\0+0.5\x14A\x14\0").
std::string EdfPlusD(const std::vector<std::string>& parts,
                     int perRecord,
                     int (*digital)(long long),
                     bool bdf = false);

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
