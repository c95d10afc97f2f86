// Bad input and failing outputs through the real korva executable and module:
// what each gets (exit status, message) and what is left on disk. The table in
// docs/hardening.md lists the same cases.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/run_korva.h"

namespace {

using namespace KorvaTest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

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

std::string Replace(std::string text,
                    const std::string& what,
                    const std::string& with) {
  const size_t at = text.find(what);
  if (at != std::string::npos) text.replace(at, what.size(), with);
  return text;
}

// Temporary files of the atomic writes carry ".tmp-" in their names.
bool NoTemporaryFiles(const std::vector<std::string>& names) {
  return std::none_of(names.begin(), names.end(), [](const std::string& n) {
    return n.find(".tmp-") != std::string::npos;
  });
}

// Every test works on the shared test set (240 epochs, 40 features) and the
// model trained on the shared training set.
class KorvaFaults : public KorvaRun {
 protected:
  void SetUp() override {
    KorvaRun::SetUp();
    data_ = SharedText("test.csv");
    model_ = SharedText("model.xml");
  }
  std::string data_;
  std::string model_;
};

// ---- data files that cannot be used ---------------------------------------

// The file as a whole; the parser's own refusals, each naming line and
// column, are tested in cli/csv_io_test.cpp.
struct BadData {
  const char* name;
  std::string (*make)(const std::string& data);
  const char* message;  // part of the error message
};

void PrintTo(const BadData& bad, std::ostream* os) { *os << bad.name; }

// clang-format off
const BadData kBadData[] = {
    {"empty", [](const std::string&) { return std::string(); }, "empty file"},
    {"truncated_mid_row", [](const std::string& d) { return d.substr(0, 20000); }, "ragged row"},
    {"binary", [](const std::string&) { return BinaryBytes(4000); }, "bad.csv, line 1: a NUL byte: this is binary data, not CSV text"},
    {"nan_label", [](const std::string& d) { return ChangeRows(d, [](int row, std::vector<std::string>& f) { if (row == 5) f[0] = "nan"; }); }, "line 7, column 1 (label): non-finite value \"nan\""},
};
// clang-format on

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

TEST_F(KorvaFaults, MissingOrUnreadableInputFilesAreRefused) {
  fs::create_directory(dir_ / "folder.csv");
  Put("data.csv", data_);
  const std::pair<std::string, std::string> cases[] = {
      {"train missing.csv --model model.xml",
       "missing.csv: cannot open: No such file"},
      {"train folder.csv --model model.xml",
       "folder.csv: cannot read: Is a directory"},
      {"score absent.xml data.csv --output s.csv",
       "cannot read model absent.xml"},
  };
  for (const auto& [arguments, message] : cases) {
    const Result r = Run(arguments);
    EXPECT_EQ(r.status, arguments[0] == 't' ? kExitData : kExitModel)
        << arguments;
    EXPECT_THAT(r.err, HasSubstr(message));
  }
  EXPECT_THAT(Files(), ElementsAre("data.csv", "folder.csv"));
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

struct BadRange {
  const char* pEnter;
  const char* pRemove;
};

class KorvaBadRange : public KorvaFaults,
                      public ::testing::WithParamInterface<BadRange> {};

TEST_P(KorvaBadRange, IsRefusedWithTheRule) {
  Put("data.csv", data_);
  const Result r =
      Run("train data.csv --model model.xml --p-enter " +
          std::string(GetParam().pEnter) + " --p-remove " + GetParam().pRemove);
  EXPECT_EQ(r.status, kExitUsage);
  EXPECT_THAT(r.err,
              HasSubstr("p-enter must be above 0 and below p-remove, "
                        "p-remove at most 1"));
  EXPECT_THAT(Files(), ElementsAre("data.csv"));
}

INSTANTIATE_TEST_SUITE_P(Parameters,
                         KorvaBadRange,
                         ::testing::Values(BadRange{"0.2", "0.1"},
                                           BadRange{"0.1", "0.1"},
                                           BadRange{"0", "0.1"},
                                           BadRange{"0.5", "1.5"},
                                           BadRange{"-0.1", "0.1"},
                                           BadRange{"nan", "0.5"}));

// ---- training sets that train to nothing or cannot train -----------------

struct EmptySelection {
  const char* name;
  const char* label;    // every row's label; nullptr keeps them
  const char* warning;  // part of standard error
};

void PrintTo(const EmptySelection& set, std::ostream* os) { *os << set.name; }

class KorvaEmptySelection
    : public KorvaFaults,
      public ::testing::WithParamInterface<EmptySelection> {};

// Nothing is selected: the model is saved but cannot score.
TEST_P(KorvaEmptySelection, SavesAModelThatCannotScore) {
  const char* label = GetParam().label;
  Put("set.csv", ChangeRows(data_, [label](int, std::vector<std::string>& f) {
        if (label)
          f[0] = label;
        else
          for (size_t i = 1; i < f.size(); ++i) f[i] = "2.5";
      }));
  const Result r = Run("train set.csv --model model.xml");
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_THAT(r.err, HasSubstr(GetParam().warning));
  EXPECT_THAT(r.err, HasSubstr("no feature was selected"));
  const Result score = Run("score model.xml set.csv --output scores.csv");
  EXPECT_EQ(score.status, kExitModel);
  EXPECT_THAT(score.err, HasSubstr("holds no trained classifier"));
  EXPECT_THAT(Files(), ElementsAre("model.xml", "set.csv"));
}

INSTANTIATE_TEST_SUITE_P(
    Hardening,
    KorvaEmptySelection,
    ::testing::Values(
        EmptySelection{"labels_all_one_class",
                       "1",
                       "only one class (240 rows labelled +1, 0 labelled -1)"},
        EmptySelection{"labels_all_zero",
                       "0",
                       "240 of 240 rows have a label other than +1 or -1"},
        EmptySelection{
            "every_column_constant", nullptr, "40 columns are constant"}),
    [](const auto& info) { return info.param.name; });

// 5 rows for 40 features: features enter until the model leaves fewer than two
// error degrees of freedom, and training fails there. The earlier outputs
// stay; the log records the failure.
TEST_F(KorvaFaults, FailedTrainingKeepsEarlierOutputsAndWritesTheLog) {
  Put("tiny.csv",
      ChangeRows(
          data_,
          [](int row, std::vector<std::string>& f) {
            f[0] = row % 2 ? "1" : "-1";
          },
          5));
  for (const char* name : {"model.xml", "w.txt", "report.html"})
    Put(name, std::string("earlier ") + name);
  const Result r = Run(
      "train tiny.csv --model model.xml --weights w.txt --report report.html "
      "--log-json log.json");
  EXPECT_EQ(r.status, kExitTrainingFailed);
  EXPECT_THAT(r.err,
              HasSubstr("training failed: the classifier returned "
                        "status -10 (too few examples"));
  for (const char* name : {"model.xml", "w.txt", "report.html"})
    EXPECT_EQ(Get(name), std::string("earlier ") + name);
  const auto log = nlohmann::json::parse(Get("log.json"));
  EXPECT_EQ(log["result"], -10);
  EXPECT_EQ(log["progress"].back(), "*************");
  EXPECT_THAT(log["progress"].get<std::vector<std::string>>(),
              ::testing::Contains(StartsWith("StepCalc returned -10 ")));
  EXPECT_THAT(
      Files(),
      ElementsAre("log.json", "model.xml", "report.html", "tiny.csv", "w.txt"));
}

TEST_F(KorvaFaults, ExceptionInsideTrainingIsCaughtAndNamed) {
  Put("data.csv", data_);
  // The exception's kind, what the message starts with and ends with.
  const std::string cases[][3] = {
      {"newmat", "matrix library: ", "planted matrix failure"},
      {"std", "planted failure", "planted failure"}};
  for (const auto& [kind, start, end] : cases) {
    const Result r =
        Run("train data.csv --model model.xml --log-json log.json --module " +
                Quote(KORVA_THROWING_MODULE),
            "KORVA_TEST_THROW=" + kind + " ");
    EXPECT_EQ(r.status, kExitTrainingException) << kind;
    EXPECT_THAT(r.err, HasSubstr("training raised an exception: " + start));
    EXPECT_THAT(r.err, HasSubstr(end + "; no model written"));
    const auto log = nlohmann::json::parse(Get("log.json"));
    EXPECT_TRUE(log["result"].is_null());
    EXPECT_EQ(log["progress"],
              nlohmann::json::array({"Step 1, about to fail"}));
  }
  EXPECT_THAT(Files(), ElementsAre("data.csv", "log.json"));
}

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

// clang-format off
const BadModel kBadModels[] = {
    {"count_negative", [](const std::string& m) { return WithCount(m, "-3"); }, kExitModel, "holds no trained classifier"},
    {"count_zero", [](const std::string& m) { return WithCount(m, "0"); }, kExitModel, "holds no trained classifier"},
    {"count_huge", [](const std::string& m) { return WithCount(m, "99999999999"); }, kExitModel, "holds no trained classifier"},
    {"count_int_max", [](const std::string& m) { return WithCount(m, "2147483647"); }, kExitModel, "holds no trained classifier"},
    // More flags than the "IN" text holds.
    {"count_above_flags", [](const std::string& m) { return WithCount(m, "41"); }, kExitModel, "holds no trained classifier"},
    // Fewer: the model has 20 features, the data 40.
    {"count_below_flags", [](const std::string& m) { return WithCount(m, "20"); }, kExitData, "has 40 feature columns but model model.xml was trained on 20"},
    {"truncated", [](const std::string& m) { return m.substr(0, m.size() / 2); }, kExitModel, "is not a valid XML document"},
    {"empty", [](const std::string&) { return std::string(); }, kExitModel, "is not a valid XML document: No document element found"},
    {"binary", [](const std::string&) { return BinaryBytes(3000); }, kExitModel, "is not a valid XML document"},
    {"another_classifier", [](const std::string& m) { return Replace(m, "Name=\"DOZOD\"", "Name=\"OTHER\""); }, kExitModel, "is not a document of the DOZOD classifier"},
    {"section_missing", [](const std::string& m) { return Replace(m, "<Protocol />", ""); }, kExitModel, "lacks a section"},
};
// clang-format on

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

struct BadModule {
  const char* name;
  const char* module;  // "HOST" stands for the host library
  const char* message;
};

void PrintTo(const BadModule& bad, std::ostream* os) { *os << bad.name; }

class KorvaBadModule : public KorvaFaults,
                       public ::testing::WithParamInterface<BadModule> {};

// Given by option or by KORVA_MODULE, for training or for reading a model.
TEST_P(KorvaBadModule, IsRefusedWithItsOwnMessage) {
  Put("data.csv", data_);
  Put("model.xml", model_);
  Put("fake.kvc", data_);
  const std::string module = std::string(GetParam().module) == "HOST"
                                 ? Quote(KORVA_HOST_LIBRARY)
                                 : GetParam().module;
  const Result option =
      Run("train data.csv --model new.xml --module " + module);
  const Result variable = Run("info model.xml", "KORVA_MODULE=" + module + " ");
  for (const Result& r : {option, variable}) {
    EXPECT_EQ(r.status, kExitModule) << r.err;
    EXPECT_THAT(r.err, HasSubstr(GetParam().message));
  }
  EXPECT_EQ(variable.out, "");
  EXPECT_FALSE(fs::exists(dir_ / "new.xml"));
}

INSTANTIATE_TEST_SUITE_P(
    Hardening,
    KorvaBadModule,
    ::testing::Values(
        BadModule{"missing", "none.kvc", "module file not found: none.kvc"},
        BadModule{"not_a_library", "fake.kvc", "invalid ELF header"},
        BadModule{"not_a_library_with_folder",
                  "./fake.kvc",
                  "cannot load module ./fake.kvc"},
        BadModule{
            "no_entry_point", "HOST", "has no entry point CreateInstance"}),
    [](const auto& info) { return info.param.name; });

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

// Tests run as root, whom permission bits do not stop; a path below a regular
// file cannot be written by anyone. The last output written is refused before
// training starts, so nothing is trained and no other output is written.
TEST_F(KorvaFaults, OutputInAFolderThatDoesNotExistOrIsAFile) {
  Put("data.csv", data_);
  const std::pair<std::string, std::string> cases[] = {
      {"nowhere/report.html", "No such file or directory"},
      {"data.csv/report.html", "Not a directory"}};
  for (const auto& [path, reason] : cases) {
    const Result r = Run("train data.csv --model model.xml --report " + path);
    EXPECT_EQ(r.status, kExitOutput) << r.err;
    EXPECT_THAT(r.err, HasSubstr("cannot write " + path + ": " + reason));
    EXPECT_THAT(r.out, Not(HasSubstr("training on"))) << "trained first";
  }
  EXPECT_THAT(Files(), ElementsAre("data.csv"));
  EXPECT_EQ(Get("data.csv"), data_);
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
  EXPECT_EQ(Get("ro/model.xml"), "earlier model\n");
  EXPECT_THAT(Files("ro"), ElementsAre("model.xml"));
}

// A 64 KiB file system with an earlier model and weight file and 40 KiB of
// filler: a model of 1280 features (about 35 KB) does not fit.
TEST_F(KorvaFaults, FullDiskKeepsTheEarlierModel) {
  if (!CanMount()) GTEST_SKIP() << "no private mount namespace here";
  ASSERT_EQ(Run("generate --epochs 300 --channels 32 --samples 40 --seed 5 "
                "--output big.csv")
                .status,
            kExitOk);
  fs::create_directories(dir_ / "disk");
  const std::string inner =
      "mount -t tmpfs -o size=64k tmpfs disk && "
      "printf 'earlier model' > disk/model.xml && "
      "printf 'earlier weights' > disk/w.txt && "
      "head -c 40960 /dev/zero > disk/filler && " +
      Korva() +
      " train big.csv --model disk/model.xml --weights disk/w.txt --quiet; "
      "status=$?; cat disk/model.xml; echo; cat disk/w.txt; echo; ls -a disk; "
      "exit $status";
  const Result r = Shell(dir_, io_, "unshare -m sh -c " + Quote(inner));
  EXPECT_EQ(r.status, kExitOutput) << r.err;
  EXPECT_THAT(
      r.err, HasSubstr("cannot write disk/model.xml: No space left on device"));
  // The mount is gone with its namespace; what was on it was printed.
  EXPECT_EQ(
      r.out,
      "earlier model\nearlier weights\n.\n..\nfiller\nmodel.xml\nw.txt\n");
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
class KorvaFullDisk : public KorvaFaults,
                      public ::testing::WithParamInterface<int> {};

TEST_P(KorvaFullDisk, KeepsTheEarlierFileOfTheOutputThatDoesNotFit) {
  const std::vector<std::string> outputs = {
      "log.json", "model.xml", "w.txt", "report.html"};
  const std::string arguments =
      "train data.csv --log-json log.json --model model.xml --weights w.txt "
      "--report report.html --quiet";
  const int failing = GetParam();
  Put("data.csv", data_);
  ASSERT_EQ(Run(arguments).status, kExitOk);
  std::uintmax_t budget = fs::file_size(dir_ / outputs[failing]) / 2;
  for (int i = 0; i < failing; ++i) budget += fs::file_size(dir_ / outputs[i]);
  for (const std::string& name : outputs) Put(name, "earlier " + name);

  // ASan (in sanitizer builds) wants to be first in the library list.
  const Result r = Run(arguments,
                       "LD_PRELOAD=" + Quote(KORVA_WRITE_FAILURE_SHIM) +
                           " KORVA_WRITE_BUDGET=" + std::to_string(budget) +
                           " ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}"
                           "verify_asan_link_order=0\" ");
  EXPECT_EQ(r.status, kExitOutput) << r.err;
  EXPECT_THAT(r.err,
              HasSubstr("cannot write " + outputs[failing] +
                        ": No space left on device"));
  for (int i = 0; i < static_cast<int>(outputs.size()); ++i) {
    if (i < failing)
      EXPECT_NE(Get(outputs[i]), "earlier " + outputs[i]) << outputs[i];
    else
      EXPECT_EQ(Get(outputs[i]), "earlier " + outputs[i]) << outputs[i];
  }
  EXPECT_TRUE(NoTemporaryFiles(Files()));
}

std::string OutputName(const ::testing::TestParamInfo<int>& info) {
  static const char* const kNames[] = {"log", "model", "weights", "report"};
  return kNames[info.param];
}

INSTANTIATE_TEST_SUITE_P(Hardening,
                         KorvaFullDisk,
                         ::testing::Range(0, 4),
                         OutputName);

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
