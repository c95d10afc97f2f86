// Outputs are replaced as one step: the old content or the whole new one,
// never a part, and no temporary file left, also when the writer fails or the
// process is killed in the middle of a write.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <fstream>
#include <thread>

#include "korva/hostkit/error.h"
#include "korva/hostkit/memory_budget.h"
#include "korva/hostkit/output_file.h"
#include "korva/hostkit/shared_rows.h"
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
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0644))
      << "not the private temporary mode";
}

TEST_F(AtomicFile, FailingWriterOrKilledProcessLeavesTheOldContent) {
  EXPECT_THROW(WriteAtomically(path,
                               [](const std::string& temp) {
                                 std::ofstream(temp) << "half a mod";
                                 throw Error(ErrorKind::kOutput, "disk full");
                               }),
               Error);
  EXPECT_EXIT(WriteAtomically(path,
                              [](const std::string& temp) {
                                std::ofstream(temp)
                                    << "half a mod" << std::flush;
                                ::raise(SIGTERM);
                              }),
              ::testing::KilledBySignal(SIGTERM),
              "");
  EXPECT_EQ(ReadFile(path), "old model");
  EXPECT_THAT(Files(dir.Path()), ElementsAre("model.xml"));
}

// A link (here a relative one behind an absolute one) is written through to
// its target, a FIFO is written in place, and a replaced file keeps its mode.
TEST_F(AtomicFile, LinksFifosAndModesStayWhatTheyAre) {
  fs::create_symlink("model.xml", dir.Path() / "link.xml");
  fs::create_symlink(dir.Path() / "link.xml", dir.Path() / "chain.xml");
  WriteTextAtomically(dir / "chain.xml", "through two links");
  EXPECT_TRUE(fs::is_symlink(dir.Path() / "chain.xml") &&
              fs::is_symlink(dir.Path() / "link.xml"));
  EXPECT_EQ(ReadFile(path), "through two links");
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  WriteTextAtomically(path, "private");
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0600));
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = ReadFile(dir / "fifo"); });
  WriteTextAtomically(dir / "fifo", "through the pipe");
  reader.join();
  EXPECT_EQ(received, "through the pipe");
  EXPECT_EQ(fs::status(dir / "fifo").type(), fs::file_type::fifo);
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

// Training's memory by hand from its terms (doubles of 8 bytes, q = p + 1,
// c = min(p, n - 3) or 0 for n <= 3): 3 x 10 without a copy is
// 4*30 + 3 + 11*11 + 0 + 0 + (3 + 8)*11 + 4*10 + 3*3 = 414 doubles; 4 x 16000
// is the "about 1.9 GiB" the docs quote; a size past 2^64 bytes saturates.
TEST(TrainingMemory, IsTheSumOfItsTermsWorkedByHand) {
  const struct {
    long long rows, cols;
    bool copies;
    std::uint64_t bytes;
  } cases[] = {{3, 10, false, 414 * 8},
               {100, 5, false, 29272},
               {1000, 200, true, 10821896},
               {4, 16000, false, 2052480280},
               {1LL << 40, 1LL << 40, false, UINT64_MAX}};
  for (const auto& c : cases)
    EXPECT_EQ(TrainingMemory(c.rows, c.cols, c.copies), c.bytes) << c.rows << " x " << c.cols;
}

// Shared trainings by hand (c = min(p, n - 3), q = p + 1): per process the
// larger of 2q² + 2np + cq + c² + (S - 1)(cq + q²) doubles and a training
// alone, times the processes, plus the whole set's q² once.
//   1000 x 200, 2 processes, 3 settings: shared 722204 doubles, alone
//   9221896 bytes (larger): 201² * 8 + 2 * 9221896 = 18767000.
//   100 x 500, 1 process, 20 settings: c = 97, shared 6352370 doubles =
//   50818960 bytes (larger than 4601720 alone): + 501² * 8 = 52826968.
//   3 x 10, one setting: c = 0, alone (3312) is larger: + 968 = 4280.
//   The first with 5 held-out blocks kept, each with the class means of
//   the other rows: + 5 * (201² + 2 * 200) * 8 = 20399040.
TEST(SharedTrainingMemory, IsTheSumOfItsTermsWorkedByHand) {
  const struct {
    long long rows, cols;
    int trainings, settings, blocks;
    std::uint64_t bytes;
  } cases[] = {{1000, 200, 2, 3, 0, 18767000},
               {1000, 200, 2, 3, 5, 20399040},
               {100, 500, 1, 20, 0, 52826968},
               {3, 10, 1, 1, 0, 4280},
               {1LL << 40, 1LL << 40, 2, 5, 0, UINT64_MAX}};
  for (const auto& c : cases)
    EXPECT_EQ(SharedTrainingMemory(
                  c.rows, c.cols, c.trainings, c.settings, c.blocks),
              c.bytes)
        << c.rows << " x " << c.cols;
}

// The held-out rows of 6 rows' subsets as blocks: folds leave out disjoint
// rows; a subset of every row leaves out none; two subsets that leave out
// one row give no partition.
TEST(HeldOutBlocks, ArePartitionsOnlyWhereTheSubsetsLeaveOutDisjointRows) {
  const struct {
    std::vector<std::vector<int>> subsets;
    std::optional<std::vector<int>> blocks;
  } cases[] = {
      {{{2, 3, 4, 5}, {0, 1, 4, 5}, {0, 1, 2, 3}}, {{0, 0, 1, 1, 2, 2}}},
      {{{5, 4, 3, 2}, {0, 1, 2, 3, 4, 5}}, {{0, 0, -1, -1, -1, -1}}},
      {{{1, 2, 3, 4, 5}, {0, 2, 3, 4}}, {{0, 1, -1, -1, -1, 1}}},
      {{{1, 2, 3, 4, 5}, {1, 2, 3, 4}}, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(HeldOutBlocks(6, c.subsets), c.blocks);
}

// The blocks are kept while the estimate with them is within the limit:
// 1000 x 200, 2 processes of 3 settings need 18767000 bytes without
// blocks and 20399040 with 5 (above).
TEST(BlockProductsFit, KeepsTheBlocksOnlyWithinTheLimit) {
  const struct {
    std::uint64_t limit;
    bool fit;
  } cases[] = {{20399040, true}, {20399039, false}, {kNoMemoryLimit, true}};
  for (const auto& c : cases) {
    SetTrainingMemoryLimit(c.limit, "");
    EXPECT_EQ(BlockProductsFit(1000, 200, 2, 3, 5), c.fit) << c.limit;
  }
  SetTrainingMemoryLimit(DefaultTrainingMemoryLimit(), "");
}

}  // namespace
}  // namespace Korva::HostKit
