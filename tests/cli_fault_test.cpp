// Bad input and failing outputs through the real korva executable and module:
// what each gets (exit status, message) and what is left on disk. The table in
// docs/hardening.md lists the same cases.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// Exit statuses of korva.
constexpr int kExitOk = 0;
constexpr int kExitData = 3;
constexpr int kExitModule = 4;
constexpr int kExitModel = 5;
constexpr int kExitTrainingFailed = 6;
constexpr int kExitOutput = 8;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Quoted for /bin/sh.
std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

fs::path MakeTempDir(const char* prefix) {
  std::string pattern =
      (fs::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

// Runs `command` with /bin/sh in `dir`; standard output and error go to
// files in `io`, so that they never show up among the files of `dir`.
Result Shell(const fs::path& dir,
             const fs::path& io,
             const std::string& command) {
  const fs::path out = io / "stdout";
  const fs::path err = io / "stderr";
  const std::string line = "cd " + Quote(dir.string()) + " && { " + command +
                           " ; } >" + Quote(out.string()) + " 2>" +
                           Quote(err.string());
  const int wait = std::system(line.c_str());
  Result result;
  result.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : 128 + WTERMSIG(wait);
  result.out = ReadFile(out);
  result.err = ReadFile(err);
  return result;
}

// A private mount namespace (root and unshare needed) lets a test mount a
// small or read-only file system that nobody else sees and that goes away
// with the command.
bool CanMount() {
  static const bool can = [] {
    const fs::path dir = MakeTempDir("korva-mount-probe");
    const std::string probe =
        "unshare -m sh -c " +
        Quote("mount -t tmpfs -o size=4k tmpfs " + dir.string()) +
        " >/dev/null 2>&1";
    const bool ok = std::system(probe.c_str()) == 0;
    fs::remove_all(dir);
    return ok;
  }();
  return can;
}

// The CSV text with every data row passed through `change` (row index from
// 0, fields); the header stays. Only the first `keepRows` rows are kept when
// it is not negative.
std::string ChangeRows(
    const std::string& csv,
    const std::function<void(int, std::vector<std::string>&)>& change,
    int keepRows = -1) {
  std::istringstream in(csv);
  std::string line;
  std::getline(in, line);
  std::string out = line + "\n";
  for (int row = 0; row != keepRows && std::getline(in, line); ++row) {
    std::vector<std::string> fields;
    std::istringstream parts(line);
    for (std::string field; std::getline(parts, field, ',');)
      fields.push_back(field);
    change(row, fields);
    for (size_t i = 0; i < fields.size(); ++i)
      out += (i ? "," : "") + fields[i];
    out += "\n";
  }
  return out;
}

// A fixed pseudo-random byte sequence, one byte in seven a NUL.
std::string BinaryBytes(size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t state = 12345;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(i % 7 == 0 ? 0 : state >> 24);
  }
  return bytes;
}

std::string Replace(std::string text,
                    const std::string& what,
                    const std::string& with) {
  const size_t at = text.find(what);
  if (at != std::string::npos) text.replace(at, what.size(), with);
  return text;
}

// Temporary files of the atomic writes start with '.'.
bool NoTemporaryFiles(const std::vector<std::string>& names) {
  return std::none_of(names.begin(), names.end(), [](const std::string& n) {
    return n.find(".tmp-") != std::string::npos;
  });
}

class KorvaFaults : public ::testing::Test {
 protected:
  // One small trained set for every test: 240 epochs of 4 channels x 10
  // samples (40 features), its model document and weight file.
  static void SetUpTestSuite() {
    shared_ = MakeTempDir("korva-fault-shared");
    ASSERT_FALSE(shared_.empty());
    const Result generate =
        Shell(shared_,
              shared_,
              Korva() +
                  " generate --epochs 240 --channels 4 --samples 10 --seed 3 "
                  "--output data.csv");
    ASSERT_EQ(generate.status, kExitOk) << generate.err;
    const Result train = Shell(shared_,
                               shared_,
                               Korva() +
                                   " train data.csv --model model.xml "
                                   "--weights weights.txt --quiet");
    ASSERT_EQ(train.status, kExitOk) << train.err;
    data_ = ReadFile(shared_ / "data.csv");
    model_ = ReadFile(shared_ / "model.xml");
  }
  static void TearDownTestSuite() { fs::remove_all(shared_); }

  void SetUp() override {
    dir_ = MakeTempDir("korva-fault");
    io_ = MakeTempDir("korva-fault-io");
    ASSERT_FALSE(dir_.empty());
    ASSERT_FALSE(io_.empty());
  }
  void TearDown() override {
    fs::remove_all(dir_);
    fs::remove_all(io_);
  }

  // korva, run through $KORVA_TEST_WRAPPER when that is set (for example a
  // valgrind command line, to run every case below under it once).
  static std::string Korva() {
    const char* wrapper = std::getenv("KORVA_TEST_WRAPPER");
    return (wrapper && *wrapper ? std::string(wrapper) + " " : "") +
           Quote(KORVA_BINARY);
  }
  // korva with `arguments`, run in the test's folder after `prefix`.
  Result Run(const std::string& arguments, const std::string& prefix = "") {
    return Shell(dir_, io_, prefix + Korva() + " " + arguments);
  }
  // `command` run in a private mount namespace in which `folder` (below the
  // test's folder) is a fresh file system mounted with `options`.
  Result RunWithMount(const std::string& folder,
                      const std::string& mountCommand,
                      const std::string& command) {
    fs::create_directories(dir_ / folder);
    const std::string inner =
        mountCommand + " " + Quote((dir_ / folder).string()) + " && " + command;
    return Shell(dir_, io_, "unshare -m sh -c " + Quote(inner));
  }
  fs::path Put(const std::string& name, const std::string& text) {
    WriteFile(dir_ / name, text);
    return dir_ / name;
  }
  // The names in the test's folder (or in `folder` below it), sorted.
  std::vector<std::string> Files(const std::string& folder = "") {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_ / folder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  static fs::path shared_;
  static std::string data_;
  static std::string model_;
  fs::path dir_;
  fs::path io_;
};

fs::path KorvaFaults::shared_;
std::string KorvaFaults::data_;
std::string KorvaFaults::model_;

// ---- data files that cannot be used ---------------------------------------

struct BadData {
  const char* name;
  std::string (*make)(const std::string& data);
  const char* message;  // part of the error message
};

void PrintTo(const BadData& bad, std::ostream* os) { *os << bad.name; }

const BadData kBadData[] = {
    {"empty", [](const std::string&) { return std::string(); }, "empty file"},
    {"blank_lines_only",
     [](const std::string&) { return std::string("\n \r\n\t\n"); },
     "empty file"},
    {"truncated_mid_row",
     [](const std::string& data) { return data.substr(0, 20000); },
     "ragged row"},
    {"binary",
     [](const std::string&) { return BinaryBytes(4000); },
     "bad.csv, line 1: a NUL byte: this is binary data, not CSV text"},
    {"header_only",
     [](const std::string& data) {
       return data.substr(0, data.find('\n') + 1);
     },
     "no data rows"},
    {"no_label_column",
     [](const std::string& data) { return Replace(data, "label,", "lbl,"); },
     "no label column"},
    {"nan_label",
     [](const std::string& data) {
       return ChangeRows(data, [](int row, std::vector<std::string>& f) {
         if (row == 5) f[0] = "nan";
       });
     },
     "line 7, column 1 (label): non-finite value \"nan\""},
    {"infinite_value",
     [](const std::string& data) {
       return ChangeRows(data, [](int row, std::vector<std::string>& f) {
         if (row == 7) f[3] = "1e999";
       });
     },
     "non-finite value \"1e999\""},
};

class KorvaBadData : public KorvaFaults,
                     public ::testing::WithParamInterface<BadData> {};

TEST_P(KorvaBadData, TrainRefusesItAndWritesNothing) {
  Put("bad.csv", GetParam().make(data_));
  const Result r = Run("train bad.csv --model model.xml --weights w.txt");
  EXPECT_EQ(r.status, kExitData) << r.err;
  EXPECT_THAT(r.err, StartsWith("korva: error: bad.csv"));
  EXPECT_THAT(r.err, HasSubstr(GetParam().message));
  EXPECT_THAT(Files(), ElementsAre("bad.csv"));
}

INSTANTIATE_TEST_SUITE_P(Hardening,
                         KorvaBadData,
                         ::testing::ValuesIn(kBadData),
                         [](const auto& info) { return info.param.name; });

TEST_F(KorvaFaults, MissingDataFileOrAFolderIsRefused) {
  fs::create_directory(dir_ / "folder.csv");
  Result r = Run("train missing.csv --model model.xml");
  EXPECT_EQ(r.status, kExitData);
  EXPECT_THAT(r.err, HasSubstr("missing.csv: cannot open: No such file"));
  r = Run("train folder.csv --model model.xml");
  EXPECT_EQ(r.status, kExitData);
  EXPECT_THAT(r.err, HasSubstr("folder.csv: cannot read: Is a directory"));
  EXPECT_THAT(Files(), ElementsAre("folder.csv"));
}

// MATLAB files are read by libmatio; what it cannot open is refused.
TEST_F(KorvaFaults, BrokenMatlabFilesAreRefused) {
  Put("empty.mat", "");
  Put("binary.mat", BinaryBytes(5000));
  Result r = Run("train empty.mat --x X --y y --model model.xml");
  EXPECT_EQ(r.status, kExitData);
  EXPECT_THAT(r.err,
              HasSubstr("empty.mat: no variable 'X' for the features (the "
                        "file holds: none)"));
  r = Run("train binary.mat --x X --y y --model model.xml");
  EXPECT_EQ(r.status, kExitData);
  EXPECT_THAT(r.err, HasSubstr("binary.mat: cannot open it as a MATLAB file"));
  EXPECT_THAT(Files(), ElementsAre("binary.mat", "empty.mat"));
}

// A file of 256 MiB with no line end and no text: it is read (held once in
// memory) and refused as binary, with no model written.
TEST_F(KorvaFaults, HugeFileWithoutTextIsRefused) {
  {
    std::ofstream huge(dir_ / "huge.csv", std::ios::binary);
    huge.seekp((std::int64_t{256} << 20) - 1);
    huge.put('\0');
  }
  const Result r = Run("train huge.csv --model model.xml");
  EXPECT_EQ(r.status, kExitData) << r.err;
  EXPECT_THAT(r.err, StartsWith("korva: error: huge.csv, line 1: a NUL byte"));
  EXPECT_THAT(Files(), ElementsAre("huge.csv"));
}

// ---- training sets that train to nothing or cannot train -----------------

struct HardSet {
  const char* name;
  std::string (*make)(const std::string& data);
  int status;
  const char* warning;  // part of standard error
  bool modelWritten;
};

void PrintTo(const HardSet& set, std::ostream* os) { *os << set.name; }

const HardSet kHardSets[] = {
    {"labels_all_one_class",
     [](const std::string& data) {
       return ChangeRows(data,
                         [](int, std::vector<std::string>& f) { f[0] = "1"; });
     },
     kExitOk,
     "only one class (240 rows labelled +1, 0 labelled -1)",
     true},
    {"labels_all_zero",
     [](const std::string& data) {
       return ChangeRows(data,
                         [](int, std::vector<std::string>& f) { f[0] = "0"; });
     },
     kExitOk,
     "240 of 240 rows have a label other than +1 or -1",
     true},
    {"every_column_constant",
     [](const std::string& data) {
       return ChangeRows(data, [](int, std::vector<std::string>& f) {
         for (size_t i = 1; i < f.size(); ++i) f[i] = "2.5";
       });
     },
     kExitOk,
     "40 columns are constant",
     true},
    // 5 rows for 40 features: features enter until the model leaves fewer
    // than two error degrees of freedom, and training fails there.
    {"more_features_than_examples",
     [](const std::string& data) {
       return ChangeRows(
           data,
           [](int row, std::vector<std::string>& f) {
             f[0] = row % 2 ? "1" : "-1";
           },
           5);
     },
     kExitTrainingFailed,
     "training failed: the classifier returned status -10 (too few examples",
     false},
    {"two_examples",
     [](const std::string& data) {
       return ChangeRows(
           data,
           [](int row, std::vector<std::string>& f) {
             f[0] = row % 2 ? "1" : "-1";
           },
           2);
     },
     kExitTrainingFailed,
     "status -10",
     false},
};

class KorvaHardSet : public KorvaFaults,
                     public ::testing::WithParamInterface<HardSet> {};

TEST_P(KorvaHardSet, TrainsToAClearOutcome) {
  Put("set.csv", GetParam().make(data_));
  const Result r = Run("train set.csv --model model.xml");
  EXPECT_EQ(r.status, GetParam().status) << r.err;
  EXPECT_THAT(r.err, HasSubstr(GetParam().warning));
  EXPECT_EQ(fs::exists(dir_ / "model.xml"), GetParam().modelWritten);
  if (!GetParam().modelWritten) return;
  // Nothing was selected: the model is saved but cannot score.
  EXPECT_THAT(r.err, HasSubstr("no feature was selected"));
  const Result score = Run("score model.xml set.csv --output scores.csv");
  EXPECT_EQ(score.status, kExitModel);
  EXPECT_THAT(score.err, HasSubstr("holds no trained classifier"));
  EXPECT_FALSE(fs::exists(dir_ / "scores.csv"));
}

INSTANTIATE_TEST_SUITE_P(Hardening,
                         KorvaHardSet,
                         ::testing::ValuesIn(kHardSets),
                         [](const auto& info) { return info.param.name; });

// ---- model documents that cannot be used ----------------------------------

struct BadModel {
  const char* name;
  std::string (*make)(const std::string& model);
  int status;
  const char* message;
};

void PrintTo(const BadModel& bad, std::ostream* os) { *os << bad.name; }

std::string WithCount(const std::string& model, const char* count) {
  return Replace(model, "Count=\"40\"", std::string("Count=\"") + count + "\"");
}

const BadModel kBadModels[] = {
    {"count_negative",
     [](const std::string& m) { return WithCount(m, "-3"); },
     kExitModel,
     "holds no trained classifier"},
    {"count_zero",
     [](const std::string& m) { return WithCount(m, "0"); },
     kExitModel,
     "holds no trained classifier"},
    {"count_huge",
     [](const std::string& m) { return WithCount(m, "99999999999"); },
     kExitModel,
     "holds no trained classifier"},
    {"count_int_max",
     [](const std::string& m) { return WithCount(m, "2147483647"); },
     kExitModel,
     "holds no trained classifier"},
    // More flags than the "IN" text holds.
    {"count_above_flags",
     [](const std::string& m) { return WithCount(m, "41"); },
     kExitModel,
     "holds no trained classifier"},
    // Fewer: the model has 20 features, the data 40.
    {"count_below_flags",
     [](const std::string& m) { return WithCount(m, "20"); },
     kExitData,
     "has 40 feature columns but model model.xml was trained on 20"},
    {"truncated",
     [](const std::string& m) { return m.substr(0, m.size() / 2); },
     kExitModel,
     "is not a valid XML document"},
    {"empty",
     [](const std::string&) { return std::string(); },
     kExitModel,
     "is not a valid XML document: No document element found"},
    {"binary",
     [](const std::string&) { return BinaryBytes(3000); },
     kExitModel,
     "is not a valid XML document"},
    {"another_classifier",
     [](const std::string& m) {
       return Replace(m, "Name=\"DOZOD\"", "Name=\"OTHER\"");
     },
     kExitModel,
     "is not a document of the DOZOD classifier"},
    {"section_missing",
     [](const std::string& m) { return Replace(m, "<Protocol />", ""); },
     kExitModel,
     "lacks a section"},
};

class KorvaBadModel : public KorvaFaults,
                      public ::testing::WithParamInterface<BadModel> {};

TEST_P(KorvaBadModel, ScoreRefusesItAndWritesNothing) {
  Put("data.csv", data_);
  Put("model.xml", GetParam().make(model_));
  const Result r = Run("score model.xml data.csv --output scores.csv");
  EXPECT_EQ(r.status, GetParam().status) << r.err;
  EXPECT_THAT(r.err, StartsWith("korva: error: "));
  EXPECT_THAT(r.err, HasSubstr(GetParam().message));
  EXPECT_THAT(Files(), ElementsAre("data.csv", "model.xml"));
}

INSTANTIATE_TEST_SUITE_P(Hardening,
                         KorvaBadModel,
                         ::testing::ValuesIn(kBadModels),
                         [](const auto& info) { return info.param.name; });

// ---- modules ---------------------------------------------------------------

TEST_F(KorvaFaults, ModuleThatIsNotASharedLibraryIsRefused) {
  Put("data.csv", data_);
  Put("fake.kvc", data_);
  for (const char* name : {"fake.kvc", "./fake.kvc"}) {
    const Result r =
        Run("train data.csv --model model.xml --module " + std::string(name));
    EXPECT_EQ(r.status, kExitModule) << name;
    EXPECT_THAT(r.err, HasSubstr("cannot load module"));
    EXPECT_THAT(r.err, HasSubstr("invalid ELF header"));
  }
  EXPECT_FALSE(fs::exists(dir_ / "model.xml"));
}

TEST_F(KorvaFaults, ModuleWithoutEntryPointIsRefused) {
  Put("data.csv", data_);
  const Result r = Run("train data.csv --model model.xml --module " +
                       Quote(KORVA_HOST_LIBRARY));
  EXPECT_EQ(r.status, kExitModule);
  EXPECT_THAT(r.err, HasSubstr("has no entry point CreateInstance"));
  EXPECT_FALSE(fs::exists(dir_ / "model.xml"));
}

TEST_F(KorvaFaults, MissingModuleIsRefused) {
  Put("data.csv", data_);
  const Result r = Run("train data.csv --model model.xml --module none.kvc");
  EXPECT_EQ(r.status, kExitModule);
  EXPECT_THAT(r.err, HasSubstr("module file not found: none.kvc"));
}

// A module named without a folder is the file in the current folder, not a
// library found on the search path.
TEST_F(KorvaFaults, ModuleNamedWithoutFolderLoadsFromTheCurrentFolder) {
  Put("data.csv", data_);
  fs::copy_file(KORVA_MODULE_FILE, dir_ / "ZEZODOvo64.kvc");
  const Result r =
      Run("train data.csv --model model.xml --quiet --module ZEZODOvo64.kvc");
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_TRUE(fs::exists(dir_ / "model.xml"));
}

// ---- outputs that cannot be written ----------------------------------------

TEST_F(KorvaFaults, OutputFolderThatDoesNotExist) {
  Put("data.csv", data_);
  const Result r = Run("train data.csv --model nowhere/model.xml --quiet");
  EXPECT_EQ(r.status, kExitOutput);
  EXPECT_THAT(r.err,
              HasSubstr("cannot write nowhere/model.xml: No such file or "
                        "directory"));
  EXPECT_THAT(Files(), ElementsAre("data.csv"));
}

// Tests run as root, whom permission bits do not stop; a path below a regular
// file cannot be written by anyone.
TEST_F(KorvaFaults, OutputFolderThatIsAFile) {
  Put("data.csv", data_);
  const Result r = Run("train data.csv --model data.csv/model.xml --quiet");
  EXPECT_EQ(r.status, kExitOutput);
  EXPECT_THAT(r.err,
              HasSubstr("cannot write data.csv/model.xml: Not a directory"));
  EXPECT_EQ(ReadFile(dir_ / "data.csv"), data_);
}

TEST_F(KorvaFaults, ReadOnlyOutputFolderKeepsTheEarlierFile) {
  if (!CanMount()) GTEST_SKIP() << "no private mount namespace here";
  Put("data.csv", data_);
  fs::create_directories(dir_ / "ro");
  Put("ro/model.xml", "earlier model\n");
  const std::string ro = Quote((dir_ / "ro").string());
  const Result r =
      Shell(dir_,
            io_,
            "unshare -m sh -c " +
                Quote("mount --bind " + ro + " " + ro +
                      " && mount -o remount,bind,ro " + ro + " && " + Korva() +
                      " train data.csv --model ro/model.xml --quiet"));
  EXPECT_EQ(r.status, kExitOutput) << r.err;
  EXPECT_THAT(r.err,
              HasSubstr("cannot write ro/model.xml: Read-only file system"));
  EXPECT_EQ(ReadFile(dir_ / "ro/model.xml"), "earlier model\n");
  EXPECT_THAT(Files("ro"), ElementsAre("model.xml"));
}

// ---- a disk that fills while writing ---------------------------------------

// A 64 KiB file system with an earlier model and weight file and 40 KiB of
// filler: a model of 1280 features (about 35 KB) does not fit.
TEST_F(KorvaFaults, FullDiskKeepsTheEarlierModel) {
  if (!CanMount()) GTEST_SKIP() << "no private mount namespace here";
  ASSERT_EQ(Run("generate --epochs 300 --channels 32 --samples 40 --seed 5 "
                "--output big.csv")
                .status,
            kExitOk);
  const Result r = RunWithMount(
      "disk",
      "mount -t tmpfs -o size=64k tmpfs",
      "printf 'earlier model' > disk/model.xml && "
      "printf 'earlier weights' > disk/w.txt && "
      "head -c 40960 /dev/zero > disk/filler && " +
          Korva() +
          " train big.csv --model disk/model.xml --weights disk/w.txt "
          "--quiet; status=$?; "
          "cat disk/model.xml; echo; cat disk/w.txt; echo; ls -a disk; "
          "exit $status");
  EXPECT_EQ(r.status, kExitOutput) << r.err;
  EXPECT_THAT(
      r.err, HasSubstr("cannot write disk/model.xml: No space left on device"));
  // The mount is gone with its namespace; what was on it was printed.
  EXPECT_EQ(
      r.out,
      "earlier model\nearlier weights\n.\n..\nfiller\nmodel.xml\nw.txt\n");
}

// The model goes elsewhere; the weight file finds its file system full.
TEST_F(KorvaFaults, FullDiskKeepsTheEarlierWeightFile) {
  if (!CanMount()) GTEST_SKIP() << "no private mount namespace here";
  Put("data.csv", data_);
  const Result r = RunWithMount(
      "disk",
      "mount -t tmpfs -o size=16k tmpfs",
      "printf 'earlier weights' > disk/w.txt && "
      "head -c 12288 /dev/zero > disk/filler && " +
          Korva() +
          " train data.csv --model model.xml --weights disk/w.txt --quiet; "
          "status=$?; cat disk/w.txt; echo; ls -a disk; exit $status");
  EXPECT_EQ(r.status, kExitOutput) << r.err;
  EXPECT_THAT(r.err,
              HasSubstr("cannot write disk/w.txt: No space left on device"));
  EXPECT_EQ(r.out, "earlier weights\n.\n..\nfiller\nw.txt\n");
  EXPECT_EQ(ReadFile(dir_ / "model.xml"), model_);
}

// Scores printed to a redirection on a full disk are lost; the exit status
// says so.
TEST_F(KorvaFaults, FullStandardOutputIsAnError) {
  Put("data.csv", data_);
  Put("model.xml", model_);
  for (const char* command : {"score model.xml data.csv",
                              "generate --epochs 100",
                              "info model.xml"}) {
    const Result r = Run(std::string(command) + " >/dev/full");
    EXPECT_EQ(r.status, kExitOutput) << command;
    EXPECT_THAT(r.err, HasSubstr("korva: error: cannot write standard output"))
        << command;
  }
}

// The same without a mount: a preloaded library makes writes to files fail
// with ENOSPC after a byte budget. Each case lets the outputs written before
// one of them through (train writes the log, the model, the weights, the
// report in that order) and runs out half-way through that one.
struct FullAt {
  const char* name;
  int index;  // of the output that does not fit
};

void PrintTo(const FullAt& at, std::ostream* os) { *os << at.name; }

class KorvaFullDisk : public KorvaFaults,
                      public ::testing::WithParamInterface<FullAt> {};

TEST_P(KorvaFullDisk, KeepsTheEarlierFileOfTheOutputThatDoesNotFit) {
  const std::vector<std::string> outputs = {
      "log.json", "model.xml", "w.txt", "report.html"};
  const std::string arguments =
      "train data.csv --log-json log.json --model model.xml --weights w.txt "
      "--report report.html --quiet";
  Put("data.csv", data_);
  ASSERT_EQ(Run(arguments).status, kExitOk);
  std::uintmax_t budget = 0;
  for (int i = 0; i < GetParam().index; ++i)
    budget += fs::file_size(dir_ / outputs[i]);
  budget += fs::file_size(dir_ / outputs[GetParam().index]) / 2;
  for (const std::string& name : outputs) Put(name, "earlier " + name);

  // ASan (in sanitizer builds) wants to be first in the library list.
  const std::string prefix = "LD_PRELOAD=" + Quote(KORVA_WRITE_FAILURE_SHIM) +
                             " KORVA_WRITE_BUDGET=" + std::to_string(budget) +
                             " ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}"
                             "verify_asan_link_order=0\" ";
  const Result r = Run(arguments, prefix);
  const std::string& failing = outputs[GetParam().index];
  EXPECT_EQ(r.status, kExitOutput) << r.err;
  EXPECT_THAT(
      r.err,
      HasSubstr("cannot write " + failing + ": No space left on device"));
  for (size_t i = 0; i < outputs.size(); ++i) {
    const std::string text = ReadFile(dir_ / outputs[i]);
    if (static_cast<int>(i) < GetParam().index)
      EXPECT_NE(text, "earlier " + outputs[i]) << outputs[i] << " was written";
    else
      EXPECT_EQ(text, "earlier " + outputs[i]) << outputs[i] << " was kept";
  }
  EXPECT_TRUE(NoTemporaryFiles(Files()));
}

INSTANTIATE_TEST_SUITE_P(Hardening,
                         KorvaFullDisk,
                         ::testing::Values(FullAt{"log", 0},
                                           FullAt{"model", 1},
                                           FullAt{"weights", 2},
                                           FullAt{"report", 3}),
                         [](const auto& info) { return info.param.name; });

// ---- memory errors and leaks ----------------------------------------------

// A training with every output, a scoring and a failing write under valgrind
// memcheck: no invalid access and no lost block. Sanitizer builds cannot run
// under valgrind; there the sanitizers check the same runs.
TEST_F(KorvaFaults, TrainAndScoreAreCleanUnderValgrind) {
#ifndef KORVA_VALGRIND
  GTEST_SKIP() << "valgrind is not available in this build";
#else
  const std::string valgrind = Quote(KORVA_VALGRIND) +
                               " -q --error-exitcode=97 --leak-check=full "
                               "--errors-for-leak-kinds=definite,indirect ";
  Put("data.csv", data_);
  for (const auto& [command, status] : std::vector<std::pair<std::string, int>>{
           {"train data.csv --model model.xml --weights w.txt --report r.html "
            "--log-json log.json --quiet",
            kExitOk},
           {"score model.xml data.csv --output scores.csv", kExitOk},
           {"train data.csv --model nowhere/model.xml --quiet", kExitOutput},
       }) {
    const Result r = Run(command, valgrind);
    EXPECT_EQ(r.status, status) << command << "\n" << r.err;
    EXPECT_THAT(r.err, Not(HasSubstr("=="))) << command;
  }
#endif
}

}  // namespace
