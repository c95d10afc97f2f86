// Runs the korva executable of the build as a user does, in a fresh folder
// per test, and captures its exit status, standard output and standard error.
// KORVA_BINARY must name the executable.
#ifndef KORVA_TESTS_RUN_KORVA_H_
#define KORVA_TESTS_RUN_KORVA_H_

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace KorvaTest {

namespace fs = std::filesystem;

// Exit statuses of korva.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitData = 3;
constexpr int kExitModule = 4;
constexpr int kExitModel = 5;
constexpr int kExitTrainingFailed = 6;
constexpr int kExitTrainingException = 7;
constexpr int kExitOutput = 8;
constexpr int kExitNoDisplay = 9;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Occurrences of `what` in `text`, overlapping ones included.
inline int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos;
       at = text.find(what, at + 1))
    ++n;
  return n;
}

// `text` quoted for /bin/sh.
inline std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A new folder below the temporary folder; empty path on failure.
inline fs::path MakeTempDir(const char* prefix) {
  std::string pattern =
      (fs::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

// A fixed pseudo-random byte sequence, one byte in seven a NUL.
inline std::string BinaryBytes(size_t size) {
  std::string bytes(size, '\0');
  unsigned state = 12345;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(i % 7 == 0 ? 0 : state >> 24);
  }
  return bytes;
}

// korva, run through $KORVA_TEST_WRAPPER when that is set (for example a
// valgrind command line, to run every case under it once).
inline std::string Korva() {
  const char* wrapper = std::getenv("KORVA_TEST_WRAPPER");
  return (wrapper && *wrapper ? std::string(wrapper) + " " : "") +
         Quote(KORVA_BINARY);
}

// Runs `command` with /bin/sh in `dir` with KORVA_MODULE unset; standard
// output and error go to files in `io`, never among the files of `dir`.
inline Result Shell(const fs::path& dir,
                    const fs::path& io,
                    const std::string& command) {
  const fs::path out = io / "stdout";
  const fs::path err = io / "stderr";
  const std::string line = "cd " + Quote(dir.string()) +
                           " && { unset KORVA_MODULE; " + command + " ; } >" +
                           Quote(out.string()) + " 2>" + Quote(err.string());
  const int wait = std::system(line.c_str());
  Result result;
  result.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : 128 + WTERMSIG(wait);
  result.out = ReadFile(out);
  result.err = ReadFile(err);
  return result;
}

// Every test gets its own folder; the suite shares a generated training set
// of 360 epochs and test set of 240 epochs (4 channels x 10 samples, 40
// features) and a model and weight file trained on the training set.
class KorvaRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    shared_ = MakeTempDir("korva-shared");
    ASSERT_FALSE(shared_.empty());
    const Result made =
        Shell(shared_,
              shared_,
              Korva() +
                  " generate --epochs 360 --channels 4 --samples 10 --seed 11 "
                  "--output train.csv && " +
                  Korva() +
                  " generate --epochs 240 --channels 4 --samples 10 "
                  "--seed 12 --output test.csv && " +
                  Korva() +
                  " train train.csv --model model.xml --weights "
                  "weights.txt --quiet");
    ASSERT_EQ(made.status, kExitOk) << made.err;
  }
  static void TearDownTestSuite() { fs::remove_all(shared_); }

  void SetUp() override {
    dir_ = MakeTempDir("korva-case");
    io_ = MakeTempDir("korva-io");
    ASSERT_FALSE(dir_.empty());
    ASSERT_FALSE(io_.empty());
  }
  void TearDown() override {
    fs::remove_all(dir_);
    fs::remove_all(io_);
  }

  // korva with `arguments` in the test's folder, after `prefix` (variables,
  // redirections or a wrapper).
  Result Run(const std::string& arguments, const std::string& prefix = "") {
    return Shell(dir_, io_, prefix + Korva() + " " + arguments);
  }
  // The quoted path of a file of the shared set.
  static std::string Shared(const std::string& name) {
    return Quote((shared_ / name).string());
  }
  static std::string SharedText(const std::string& name) {
    return ReadFile(shared_ / name);
  }
  void Put(const std::string& name, const std::string& text) const {
    WriteFile(dir_ / name, text);
  }
  std::string Get(const std::string& name) const {
    return ReadFile(dir_ / name);
  }
  // The names in the test's folder (or in `folder` below it), sorted.
  std::vector<std::string> Files(const std::string& folder = "") const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_ / folder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  inline static fs::path shared_;
  fs::path dir_;
  fs::path io_;
};

}  // namespace KorvaTest

#endif  // KORVA_TESTS_RUN_KORVA_H_
