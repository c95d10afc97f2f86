#include "cli/atomic_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace Korva::Cli {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class AtomicFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (fs::temp_directory_path() / "korva-atomic-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
  void TearDown() override { fs::remove_all(dir); }

  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
      names.push_back(entry.path().filename().string());
    return names;
  }

  fs::path dir;
};

TEST_F(AtomicFile, ReplacesContentAndLeavesNoTemporaryFile) {
  const fs::path path = dir / "out.txt";
  WriteTextAtomically(path.string(), "first");
  WriteTextAtomically(path.string(), "second, longer");
  EXPECT_EQ(Read(path), "second, longer");
  EXPECT_EQ(Entries(), std::vector<std::string>{"out.txt"});
}

TEST_F(AtomicFile, FailingWriterLeavesOldContentAndNoTemporaryFile) {
  const fs::path path = dir / "model.xml";
  WriteTextAtomically(path.string(), "old model");
  EXPECT_THROW(WriteAtomically(path.string(),
                               [](const std::string& tempPath) {
                                 std::ofstream(tempPath) << "half a mod";
                                 throw OutputError("disk full");
                               }),
               OutputError);
  EXPECT_EQ(Read(path), "old model");
  EXPECT_EQ(Entries(), std::vector<std::string>{"model.xml"});
}

// A run killed in the middle of a write: the old file stays whole and the
// temporary file is gone.
TEST_F(AtomicFile, InterruptDuringWriteLeavesOldContentAndNoTemporaryFile) {
  const fs::path path = dir / "model.xml";
  WriteTextAtomically(path.string(), "old model");
  const pid_t pid = ::fork();
  if (pid == 0) {
    WriteAtomically(path.string(), [](const std::string& tempPath) {
      std::ofstream(tempPath) << "half a mod" << std::flush;
      ::raise(SIGTERM);
    });
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the child must die of the signal";
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(Read(path), "old model");
  EXPECT_EQ(Entries(), std::vector<std::string>{"model.xml"});
}

TEST_F(AtomicFile, WriterFillsTheTemporaryFileByItsPath) {
  const fs::path path = dir / "weights.txt";
  WriteAtomically(path.string(), [&](const std::string& tempPath) {
    // Same folder, so that the final rename cannot cross file systems.
    EXPECT_EQ(fs::path(tempPath).parent_path(), dir);
    EXPECT_NE(fs::path(tempPath).filename(), "weights.txt");
    std::ofstream(tempPath) << "0.5\n-1";
  });
  EXPECT_EQ(Read(path), "0.5\n-1");
}

TEST_F(AtomicFile, NewFileGetsTheUsualModeNotAPrivateOne) {
  const mode_t old = ::umask(022);
  WriteTextAtomically((dir / "report.html").string(), "<html>");
  ::umask(old);
  struct stat info {};
  ASSERT_EQ(::stat((dir / "report.html").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(AtomicFile, MissingFolderOrFolderAsTargetIsAnError) {
  try {
    WriteTextAtomically((dir / "nowhere" / "x.csv").string(), "x");
    FAIL();
  } catch (const OutputError& error) {
    EXPECT_THAT(error.what(), HasSubstr("nowhere/x.csv"));
    EXPECT_THAT(error.what(), HasSubstr("No such file or directory"));
  }
  EXPECT_THROW(WriteTextAtomically(dir.string(), "x"), OutputError);
}

TEST_F(AtomicFile, MakeDirectoriesCreatesParentsAndAcceptsExisting) {
  const fs::path nested = dir / "a" / "b" / "c";
  MakeDirectories(nested.string());
  EXPECT_TRUE(fs::is_directory(nested));
  MakeDirectories(nested.string());
  WriteTextAtomically((dir / "file").string(), "x");
  EXPECT_THROW(MakeDirectories((dir / "file").string()), OutputError);
}

}  // namespace
}  // namespace Korva::Cli
