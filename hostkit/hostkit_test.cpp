// Outputs are replaced as one step: the old content or the whole new one,
// never a part, and no temporary file left, also when the writer fails or the
// process is killed in the middle of a write.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <thread>

#include "korva/hostkit/error.h"
#include "korva/hostkit/output_file.h"
#include "testing/files.h"

namespace Korva::HostKit {
namespace {

using ::testing::ElementsAre;
using namespace Korva::Testing;

class AtomicFile : public ::testing::Test {
 protected:
  void SetUp() override { WriteTextAtomically(path, "old model"); }
  TempDir dir;
  const std::string path = dir / "model.xml";
};

TEST_F(AtomicFile, ReplacesContentWithTheUsualMode) {
  const mode_t old = ::umask(022);
  WriteTextAtomically(path, "new, longer model");
  ::umask(old);
  EXPECT_EQ(ReadFile(path), "new, longer model");
  EXPECT_THAT(Files(dir.Path()), ElementsAre("model.xml"));
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u) << "not the private temporary mode";
}

TEST_F(AtomicFile, FailingWriterOrKilledProcessLeavesTheOldContent) {
  EXPECT_THROW(WriteAtomically(path,
                               [](const std::string& temp) {
                                 std::ofstream(temp) << "half a mod";
                                 throw Error(ErrorKind::kOutput, "disk full");
                               }),
               Error);
  const pid_t pid = ::fork();
  if (pid == 0) {
    WriteAtomically(path, [](const std::string& temp) {
      std::ofstream(temp) << "half a mod" << std::flush;
      ::raise(SIGTERM);
    });
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_EQ(ReadFile(path), "old model");
  EXPECT_THAT(Files(dir.Path()), ElementsAre("model.xml"));
}

// A link is written through to its target, a FIFO and a device are written
// in place, and a replaced file keeps its mode.
TEST_F(AtomicFile, LinksDevicesAndModesStayWhatTheyAre) {
  fs::create_symlink("model.xml", dir.Path() / "link.xml");
  fs::create_symlink(dir.Path() / "link.xml", dir.Path() / "chain.xml");
  for (const char* link : {"link.xml", "chain.xml"}) {
    WriteTextAtomically(dir / link, link);
    EXPECT_TRUE(fs::is_symlink(dir.Path() / link));
    EXPECT_EQ(ReadFile(path), link);
  }
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  WriteTextAtomically(path, "private");
  EXPECT_EQ(fs::status(path).permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = ReadFile(dir / "fifo"); });
  WriteTextAtomically(dir / "fifo", "through the pipe");
  reader.join();
  EXPECT_EQ(received, "through the pipe");
  EXPECT_EQ(fs::status(dir / "fifo").type(), fs::file_type::fifo);
  if (::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    WriteTextAtomically(dir / "null", "gone");
    EXPECT_EQ(fs::status(dir / "null").type(), fs::file_type::character);
  }
}

TEST_F(AtomicFile, MissingFolderOrFolderAsTargetIsAnError) {
  EXPECT_THAT([&] { WriteTextAtomically(dir / "nowhere/x.csv", ""); },
              ::testing::ThrowsMessage<Error>(::testing::HasSubstr(
                  "nowhere/x.csv: No such file or directory")));
  EXPECT_THROW(WriteTextAtomically(dir.Path().string(), "x"), Error);
  EXPECT_THROW(CheckWritable(dir / "nowhere/x.csv"), Error);
  EXPECT_THROW(MakeDirectories(path), Error);
  MakeDirectories(dir / "a/b");
  MakeDirectories(dir / "a/b");
  EXPECT_TRUE(fs::is_directory(dir.Path() / "a/b"));
}

}  // namespace
}  // namespace Korva::HostKit
