// korva end to end: the real executable with the real module, as a user runs
// it. Paths of the executable and the modules come from the build.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <matio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/csv_io.h"

namespace Korva::Cli {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

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

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos;
       at = text.find(what, at + 1))
    ++n;
  return n;
}

class KorvaCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string pattern =
        (fs::temp_directory_path() / "korva-cli-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    shared_ = pattern;
    // Two small sets of 4 channels x 10 samples for every test to use.
    ASSERT_EQ(Run({"generate",
                   "--epochs",
                   "360",
                   "--channels",
                   "4",
                   "--samples",
                   "10",
                   "--seed",
                   "11",
                   "--output",
                   (shared_ / "train.csv").string()})
                  .status,
              0);
    ASSERT_EQ(Run({"generate",
                   "--epochs",
                   "240",
                   "--channels",
                   "4",
                   "--samples",
                   "10",
                   "--seed",
                   "12",
                   "--output",
                   (shared_ / "test.csv").string()})
                  .status,
              0);
  }
  static void TearDownTestSuite() { fs::remove_all(shared_); }

  void SetUp() override {
    std::string pattern =
        (fs::temp_directory_path() / "korva-case-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
  void TearDown() override { fs::remove_all(dir); }

  // Runs korva with `args`; `env` sets (or, with an empty value, unsets)
  // variables for the child. KORVA_MODULE is unset unless given.
  static Result Run(const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env = {}) {
    const fs::path out = shared_ / ("out-" + std::to_string(::getpid()));
    const fs::path err = shared_ / ("err-" + std::to_string(::getpid()));
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(o, 1);
      ::dup2(e, 2);
      ::unsetenv("KORVA_MODULE");
      for (const auto& [name, value] : env) {
        if (value.empty())
          ::unsetenv(name.c_str());
        else
          ::setenv(name.c_str(), value.c_str(), 1);
      }
      std::vector<char*> argv{const_cast<char*>(KORVA_BINARY)};
      for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      ::execv(KORVA_BINARY, argv.data());
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    Result result;
    result.status =
        WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    return result;
  }

  static std::string TrainSet() { return (shared_ / "train.csv").string(); }
  static std::string TestSet() { return (shared_ / "test.csv").string(); }
  std::string In(const std::string& name) const {
    return (dir / name).string();
  }

  static fs::path shared_;
  fs::path dir;
};

fs::path KorvaCli::shared_;

TEST_F(KorvaCli, GenerateGivesTheSameBytesForTheSameSeed) {
  const std::vector<std::string> args = {
      "generate", "--epochs", "60", "--seed", "5"};
  auto first = args, second = args;
  first.insert(first.end(), {"--output", In("a.csv")});
  second.insert(second.end(), {"--output", In("b.csv")});
  ASSERT_EQ(Run(first).status, 0);
  ASSERT_EQ(Run(second).status, 0);
  EXPECT_EQ(ReadFile(In("a.csv")), ReadFile(In("b.csv")));
  EXPECT_THAT(ReadFile(In("a.csv")), StartsWith("label,Fz_01,Fz_02,"));
  const Result other = Run({"generate", "--epochs", "60", "--seed", "6"});
  ASSERT_EQ(other.status, 0);
  EXPECT_NE(other.out, ReadFile(In("a.csv")));
}

// The scores of a restored classifier are the weighted sums of the weight
// file's weights, without its last line (the intercept, not saved in the
// model document).
TEST_F(KorvaCli, TrainThenScoreGivesTheWeightedSumsOfTheWeightFile) {
  const Result train = Run(
      {"train", TrainSet(), "--model", In("m.xml"), "--weights", In("w.txt")});
  ASSERT_EQ(train.status, 0) << train.err;
  EXPECT_THAT(train.out, HasSubstr("model written to"));
  const Result score =
      Run({"score", In("m.xml"), TestSet(), "--output", In("s.csv")});
  ASSERT_EQ(score.status, 0) << score.err;
  EXPECT_THAT(score.out, HasSubstr("AUC 0."));
  EXPECT_THAT(score.out, HasSubstr("no intercept"));

  std::istringstream weightFile(ReadFile(In("w.txt")));
  std::vector<double> w;
  for (double v; weightFile >> v;) w.push_back(v);
  const Dataset test = ReadCsv(TestSet());
  ASSERT_EQ(w.size(), static_cast<size_t>(test.cols) + 1) << "weights + W0";
  EXPECT_NE(w.back(), 0.0) << "the trained intercept";

  std::istringstream scores(ReadFile(In("s.csv")));
  std::string header;
  std::getline(scores, header);
  EXPECT_EQ(header, "score");
  int rows = 0;
  for (std::string line; std::getline(scores, line); ++rows) {
    ASSERT_LT(rows, test.rows);
    double expected = 0.0;
    for (int c = 0; c < test.cols; ++c) expected += w[c] * test.At(rows, c);
    const double actual = std::stod(line);
    EXPECT_NEAR(actual, expected, 1e-12 * (1.0 + std::abs(expected)))
        << "row " << rows;
  }
  EXPECT_EQ(rows, test.rows);
}

TEST_F(KorvaCli, ScoresGoToStandardOutputAndNotesToStandardError) {
  ASSERT_EQ(
      Run({"train", TrainSet(), "--model", In("m.xml"), "--quiet"}).status, 0);
  const Result score = Run({"score", In("m.xml"), TestSet()});
  ASSERT_EQ(score.status, 0) << score.err;
  EXPECT_THAT(score.out, StartsWith("score\n"));
  EXPECT_EQ(Count(score.out, "\n"), 241);
  EXPECT_THAT(score.err, HasSubstr("no intercept"));
}

TEST_F(KorvaCli, JsonLogHoldsTheTrainingTextsExactly) {
  const Result train = Run({"train",
                            TrainSet(),
                            "--model",
                            In("m.xml"),
                            "--p-enter",
                            "0.1",
                            "--p-remove",
                            "0.15",
                            "--log-json",
                            In("log.json")});
  ASSERT_EQ(train.status, 0) << train.err;
  const nlohmann::ordered_json log =
      nlohmann::ordered_json::parse(ReadFile(In("log.json")));
  std::vector<std::string> keys;
  for (const auto& item : log.items()) keys.push_back(item.key());
  EXPECT_EQ(
      keys,
      (std::vector<std::string>{
          "result", "progress", "messages", "short_info", "training_info"}));
  EXPECT_EQ(log["result"], 0);
  const auto progress = log["progress"].get<std::vector<std::string>>();
  ASSERT_GE(progress.size(), 4u);
  EXPECT_THAT(progress[0], StartsWith("Step 1, add feat "));
  const std::string& final = progress[progress.size() - 3];
  EXPECT_THAT(final, StartsWith("\n\r\n\rFinal columns included: "));
  const std::string& selected = progress[progress.size() - 2];
  EXPECT_THAT(selected, StartsWith("Selected "));
  EXPECT_THAT(selected, HasSubstr(" features:\r\n("));
  EXPECT_THAT(progress.back(), StartsWith("Elapsed Time "));
  // On a normal end every message also went to the list.
  EXPECT_EQ(log["messages"].get<std::vector<std::string>>(), progress);
  EXPECT_EQ(log["short_info"],
            "DOZOD: Scalar P(0.1, 0.15) | Max Iter. : 300 | ");
  const std::string count = selected.substr(9, selected.find(' ', 9) - 9);
  EXPECT_THAT(log["training_info"].get<std::string>(),
              HasSubstr("\nSelected " + count + " features\n"));
  // The terminal saw the messages without carriage returns.
  EXPECT_THAT(train.out, HasSubstr("\nFinal columns included: "));
  EXPECT_THAT(train.out, Not(HasSubstr("\r")));
}

TEST_F(KorvaCli, QuietPrintsNothingButLogsTheSame) {
  const Result loud = Run({"train",
                           TrainSet(),
                           "--model",
                           In("a.xml"),
                           "--log-json",
                           In("a.json")});
  const Result quiet = Run({"train",
                            TrainSet(),
                            "--model",
                            In("b.xml"),
                            "--log-json",
                            In("b.json"),
                            "--quiet"});
  ASSERT_EQ(loud.status, 0);
  ASSERT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, "");
  auto a = nlohmann::json::parse(ReadFile(In("a.json")));
  auto b = nlohmann::json::parse(ReadFile(In("b.json")));
  // Only the elapsed whole seconds may differ between the two runs.
  for (auto* log : {&a, &b}) {
    (*log)["progress"].erase((*log)["progress"].size() - 1);
    (*log)["messages"].erase((*log)["messages"].size() - 1);
  }
  EXPECT_EQ(a, b);
  EXPECT_EQ(ReadFile(In("a.xml")), ReadFile(In("b.xml")));
}

TEST_F(KorvaCli, TrainReportHoldsItsPlots) {
  const Result train = Run(
      {"train", TrainSet(), "--model", In("m.xml"), "--report", In("r.html")});
  ASSERT_EQ(train.status, 0) << train.err;
  const std::string html = ReadFile(In("r.html"));
  EXPECT_EQ(Count(html, "<svg "), 4);
  EXPECT_THAT(html, HasSubstr("training set (AUC 0."));
  EXPECT_THAT(html, HasSubstr("Channel &#215; time map"));
  EXPECT_THAT(html, HasSubstr(">Pz<"));
}

TEST_F(KorvaCli, EvaluateGivesTheSameFoldsInOneOrTwoProcesses) {
  const Result one = Run({"evaluate",
                          TrainSet(),
                          "--folds",
                          "4",
                          "--seed",
                          "3",
                          "--jobs",
                          "1",
                          "--report",
                          In("one.html")});
  const Result two = Run(
      {"evaluate", TrainSet(), "--folds", "4", "--seed", "3", "--jobs", "2"});
  ASSERT_EQ(one.status, 0) << one.err;
  ASSERT_EQ(two.status, 0) << two.err;
  // Every fold line without its time column.
  auto folds = [](const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
      if (line.rfind("fold ", 0) == 0) {
        // The time column and the padding before it vary from run to run.
        const size_t time = line.rfind(' ');
        lines.push_back(line.substr(0, line.find_last_not_of(' ', time) + 1));
      }
    return lines;
  };
  EXPECT_EQ(folds(one.out).size(), 4u);
  EXPECT_EQ(folds(one.out), folds(two.out));
  EXPECT_THAT(one.out, HasSubstr("overall: AUC 0."));
  const std::string html = ReadFile(In("one.html"));
  EXPECT_EQ(Count(html, "class=\"roc\""), 4) << "one ROC curve per fold";
  EXPECT_THAT(html, HasSubstr("fold 4 (AUC 0."));
}

TEST_F(KorvaCli, EvaluateOnASeparateTestSet) {
  const Result run = Run({"evaluate",
                          TrainSet(),
                          "--test",
                          TestSet(),
                          "--p-enter",
                          "0.1",
                          "--p-remove",
                          "0.15"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("test set "));
  EXPECT_THAT(run.out, HasSubstr("P(0.1, 0.15)"));
  EXPECT_THAT(run.out, Not(HasSubstr("overall")));
}

TEST_F(KorvaCli, InfoShowsBothReportsAndTheSelectionByName) {
  ASSERT_EQ(
      Run({"train", TrainSet(), "--model", In("m.xml"), "--max-iter", "3"})
          .status,
      0);
  const Result info = Run({"info", In("m.xml")});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_THAT(info.out,
              HasSubstr("DOZOD: Scalar P(0.05, 0.1) | Max Iter. : 3 |"));
  EXPECT_THAT(info.out, HasSubstr("Selected 3 features"));
  EXPECT_THAT(info.out, HasSubstr("selected features by name:"));
  EXPECT_THAT(info.out, HasSubstr("no intercept"));
}

TEST_F(KorvaCli, DemoWritesEveryOutputAndSummarises) {
  const Result demo = Run({"demo",
                           "--output",
                           In("demo/sub"),
                           "--epochs",
                           "240",
                           "--channels",
                           "4",
                           "--samples",
                           "10"});
  ASSERT_EQ(demo.status, 0) << demo.err;
  for (const char* name : {"model.xml",
                           "weights.txt",
                           "report.html",
                           "training-log.json",
                           "test-scores.csv",
                           "calibration.csv",
                           "test.csv"})
    EXPECT_TRUE(fs::exists(dir / "demo" / "sub" / name)) << name;
  EXPECT_THAT(demo.out, HasSubstr("P(0.1, 0.15)"));
  EXPECT_THAT(demo.out, HasSubstr("selected features: "));
  EXPECT_THAT(demo.out, HasSubstr("test set AUC:      0."));
  EXPECT_THAT(demo.out, HasSubstr("test set accuracy: 0."));
}

TEST_F(KorvaCli, EverySubcommandHasHelp) {
  for (const char* command :
       {"train", "score", "evaluate", "info", "edit", "generate", "demo"}) {
    const Result help = Run({command, "--help"});
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_THAT(help.out, HasSubstr("Usage")) << command;
  }
  EXPECT_EQ(Run({"train", TrainSet(), "--modle", "x"}).status, 2);
  EXPECT_EQ(Run({}).status, 2);
}

// ---- failures -------------------------------------------------------

struct BadData {
  const char* name;
  const char* csv;
  const char* message;
};

class KorvaBadData : public KorvaCli,
                     public ::testing::WithParamInterface<BadData> {};

TEST_P(KorvaBadData, ExitsWithDataErrorNamingLineAndColumn) {
  WriteFile(In("bad.csv"), GetParam().csv);
  const Result run = Run({"train", In("bad.csv"), "--model", In("m.xml")});
  EXPECT_EQ(run.status, 3);
  EXPECT_THAT(run.err, HasSubstr("korva: error: " + In("bad.csv")));
  EXPECT_THAT(run.err, HasSubstr(GetParam().message));
  EXPECT_FALSE(fs::exists(In("m.xml")));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Csv, KorvaBadData,
    ::testing::Values(
        BadData{"NonNumeric", "label,a,b\n1,2,3\n-1,2,x\n", "line 3, column 3 (b): non-numeric value \"x\""},
        BadData{"NonFinite", "a,label\n1,1\ninf,-1\n", "line 3, column 1 (a): non-finite value"},
        BadData{"Ragged", "label,a,b\n1,2\n", "line 2, column 3 (b): ragged row"},
        BadData{"NoLabel", "a,b\n1,2\n", "line 1: no label column"},
        BadData{"NoFeature", "label\n1\n", "line 1: no feature column"},
        BadData{"Empty", "", "empty file"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(KorvaCli, MissingDataFileIsADataError) {
  const Result run = Run({"train", In("none.csv"), "--model", In("m.xml")});
  EXPECT_EQ(run.status, 3);
  EXPECT_THAT(run.err, HasSubstr("none.csv: cannot open: No such file"));
}

TEST_F(KorvaCli, DataWarningsNameUselessColumnsAndOtherLabels) {
  std::string csv = "label,a,zero,b,copy\n";
  for (int r = 0; r < 40; ++r) {
    const double a = std::sin(r * 1.3), b = std::cos(r * 0.7);
    csv += std::string(r % 3 ? "-1" : (r == 30 ? "0" : "1")) + "," +
           FormatDouble(a) + ",0," + FormatDouble(b) + "," + FormatDouble(a) +
           "\n";
  }
  WriteFile(In("w.csv"), csv);
  const Result run = Run({"train", In("w.csv"), "--model", In("m.xml")});
  EXPECT_THAT(run.err,
              HasSubstr("1 of 40 rows have a label other than +1 or -1"));
  EXPECT_THAT(run.err, HasSubstr("all zero and cannot help: feature 2 (zero)"));
  EXPECT_THAT(run.err, HasSubstr("feature 4 (copy) = feature 1 (a)"));
}

TEST_F(KorvaCli, ModuleThatCannotBeUsedGetsItsOwnMessage) {
  WriteFile(In("text.kvc"), "not a library");
  struct Case {
    std::string module;
    std::string message;
  };
  const std::vector<Case> cases = {
      {In("missing.kvc"), "module file not found: " + In("missing.kvc")},
      {In("text.kvc"), "cannot load module " + In("text.kvc")},
      {KORVA_HOST_LIBRARY, "has no entry point CreateInstance"},
  };
  for (const Case& c : cases) {
    const Result option = Run(
        {"train", TrainSet(), "--model", In("m.xml"), "--module", c.module});
    EXPECT_EQ(option.status, 4) << c.module;
    EXPECT_THAT(option.err, HasSubstr(c.message));
    const Result environment =
        Run({"info", In("m.xml")}, {{"KORVA_MODULE", c.module}});
    EXPECT_EQ(environment.status, 4) << c.module;
    EXPECT_THAT(environment.err, HasSubstr(c.message));
  }
  EXPECT_FALSE(fs::exists(In("m.xml")));
}

TEST_F(KorvaCli, UnusableModelDocumentGetsItsOwnMessage) {
  WriteFile(In("garbage.xml"), "<KorvaClassifier Name=\"DOZOD\"><Classifier>");
  WriteFile(In("other.xml"), "<KorvaClassifier Name=\"LDA\"/>");
  WriteFile(In("short.xml"),
            "<KorvaClassifier Name=\"DOZOD\"><Classifier/></KorvaClassifier>");
  ASSERT_EQ(Run({"train",
                 TrainSet(),
                 "--model",
                 In("empty.xml"),
                 "--p-enter",
                 "1e-300",
                 "--p-remove",
                 "2e-300"})
                .status,
            0);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {In("absent.xml"), "cannot read model " + In("absent.xml")},
      {In("garbage.xml"), "is not a valid XML document"},
      {In("other.xml"), "is not a document of the DOZOD classifier"},
      {In("short.xml"), "lacks a section"},
      {In("empty.xml"), "holds no trained classifier"},
  };
  for (const auto& [model, message] : cases) {
    const Result run = Run({"score", model, TestSet()});
    EXPECT_EQ(run.status, 5) << model;
    EXPECT_THAT(run.err, HasSubstr(message));
  }
}

TEST_F(KorvaCli, ScoringDataOfAnotherWidthIsRefusedOtherNamesWarned) {
  ASSERT_EQ(
      Run({"train", TrainSet(), "--model", In("m.xml"), "--quiet"}).status, 0);
  WriteFile(In("narrow.csv"), "a,b\n1,2\n");
  const Result run = Run({"score", In("m.xml"), In("narrow.csv")});
  EXPECT_EQ(run.status, 3);
  EXPECT_THAT(run.err, HasSubstr("has 2 feature columns but model"));

  std::string renamed = ReadFile(TestSet());
  renamed.replace(renamed.find("Cz_03"), 5, "Xy_03");
  WriteFile(In("renamed.csv"), renamed);
  const Result warned = Run({"score", In("m.xml"), In("renamed.csv")});
  EXPECT_EQ(warned.status, 0);
  EXPECT_THAT(warned.err,
              HasSubstr("differ from the model's, first at feature 13 "
                        "(model: \"Cz_03\", data: \"Xy_03\")"));
}

struct BadRange {
  const char* name;
  const char* pEnter;
  const char* pRemove;
};

class KorvaBadRange : public KorvaCli,
                      public ::testing::WithParamInterface<BadRange> {};

TEST_P(KorvaBadRange, IsRefusedWithTheRule) {
  const Result run = Run({"train",
                          TrainSet(),
                          "--model",
                          In("m.xml"),
                          "--p-enter",
                          GetParam().pEnter,
                          "--p-remove",
                          GetParam().pRemove});
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err,
              HasSubstr("p-enter must be above 0 and below p-remove, "
                        "p-remove at most 1"));
  EXPECT_FALSE(fs::exists(In("m.xml")));
}

INSTANTIATE_TEST_SUITE_P(
    Parameters,
    KorvaBadRange,
    ::testing::Values(BadRange{"EnterAboveRemove", "0.2", "0.1"},
                      BadRange{"EnterEqualsRemove", "0.1", "0.1"},
                      BadRange{"EnterZero", "0", "0.1"},
                      BadRange{"RemoveAboveOne", "0.5", "1.5"},
                      BadRange{"EnterNegative", "-0.1", "0.1"},
                      BadRange{"EnterNaN", "nan", "0.5"}),
    [](const auto& info) { return std::string(info.param.name); });

// Five rows and a p-enter near 1 let a third feature in, which leaves the
// regression fewer than two error degrees of freedom: training returns -10.
TEST_F(KorvaCli, FailedTrainingLeavesEarlierOutputsAndWritesTheLog) {
  WriteFile(In("model.xml"), "earlier model");
  WriteFile(In("weights.txt"), "earlier weights");
  WriteFile(In("report.html"), "earlier report");
  WriteFile(In("tiny.csv"),
            "label,a,b,c\n1,1.1,0.3,5\n-1,-0.9,0.1,2\n1,1.0,-0.2,7\n"
            "-1,-1.2,0.4,1\n1,0.8,0.2,9\n");
  const Result run = Run({"train",
                          In("tiny.csv"),
                          "--model",
                          In("model.xml"),
                          "--weights",
                          In("weights.txt"),
                          "--report",
                          In("report.html"),
                          "--log-json",
                          In("log.json"),
                          "--p-enter",
                          "0.99",
                          "--p-remove",
                          "1"});
  EXPECT_EQ(run.status, 6);
  EXPECT_THAT(run.err,
              HasSubstr("training failed: the classifier returned status -10"));
  EXPECT_EQ(ReadFile(In("model.xml")), "earlier model");
  EXPECT_EQ(ReadFile(In("weights.txt")), "earlier weights");
  EXPECT_EQ(ReadFile(In("report.html")), "earlier report");
  const auto log = nlohmann::json::parse(ReadFile(In("log.json")));
  EXPECT_EQ(log["result"], -10);
  EXPECT_EQ(log["progress"].back(), "*************");
  EXPECT_THAT(log["progress"].get<std::vector<std::string>>(),
              ::testing::Contains("StepCalc returned -10   allx(5, 3)"));
  std::vector<std::string> entries;
  for (const auto& entry : fs::directory_iterator(dir))
    entries.push_back(entry.path().filename().string());
  EXPECT_EQ(entries.size(), 5u) << "no temporary file is left";
}

TEST_F(KorvaCli, ExceptionInsideTrainingIsCaughtAndNamed) {
  for (const auto& [kind, message] :
       std::vector<std::pair<std::string, std::string>>{
           {"newmat", "training raised an exception: matrix library: "},
           {"std", "training raised an exception: planted failure"}}) {
    const Result run = Run({"train",
                            TrainSet(),
                            "--model",
                            In("m.xml"),
                            "--log-json",
                            In("log.json"),
                            "--module",
                            KORVA_THROWING_MODULE},
                           {{"KORVA_TEST_THROW", kind}});
    EXPECT_EQ(run.status, 7) << kind;
    EXPECT_THAT(run.err, HasSubstr(message));
    EXPECT_THAT(
        run.err,
        HasSubstr(kind == "newmat" ? "planted matrix failure; no model written"
                                   : "planted failure; no model written"));
    EXPECT_FALSE(fs::exists(In("m.xml")));
    const auto log = nlohmann::json::parse(ReadFile(In("log.json")));
    EXPECT_TRUE(log["result"].is_null());
    EXPECT_EQ(log["progress"],
              nlohmann::json::array({"Step 1, about to fail"}));
  }
}

TEST_F(KorvaCli, EditWithoutDisplaySaysSo) {
  ASSERT_EQ(
      Run({"train", TrainSet(), "--model", In("m.xml"), "--quiet"}).status, 0);
  const std::string before = ReadFile(In("m.xml"));
  const Result run =
      Run({"edit", In("m.xml")},
          {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}});
  EXPECT_EQ(run.status, 9);
  EXPECT_THAT(run.err, HasSubstr("no display"));
  EXPECT_EQ(ReadFile(In("m.xml")), before);
}

// ---- MATLAB files -----------------------------------------------------

// Writes the CSV data set `data` as X (epochs x features), y and a cell
// array of names into a MATLAB file.
void WriteMat(const fs::path& path, const Dataset& data, int version) {
  mat_t* mat =
      Mat_CreateVer(path.c_str(), nullptr, static_cast<mat_ft>(version));
  ASSERT_NE(mat, nullptr);
  std::vector<double> X(data.X.size());
  for (int r = 0; r < data.rows; ++r)
    for (int c = 0; c < data.cols; ++c)
      X[static_cast<size_t>(c) * data.rows + r] = data.At(r, c);
  size_t xDims[2] = {static_cast<size_t>(data.rows),
                     static_cast<size_t>(data.cols)};
  matvar_t* x = Mat_VarCreate(
      "features", MAT_C_DOUBLE, MAT_T_DOUBLE, 2, xDims, X.data(), 0);
  Mat_VarWrite(mat, x, MAT_COMPRESSION_NONE);
  Mat_VarFree(x);
  std::vector<double> labels = data.labels;
  size_t yDims[2] = {1, static_cast<size_t>(data.rows)};
  matvar_t* y = Mat_VarCreate(
      "labels", MAT_C_DOUBLE, MAT_T_DOUBLE, 2, yDims, labels.data(), 0);
  Mat_VarWrite(mat, y, MAT_COMPRESSION_NONE);
  Mat_VarFree(y);
  size_t nDims[2] = {1, static_cast<size_t>(data.cols)};
  matvar_t* names =
      Mat_VarCreate("channels", MAT_C_CELL, MAT_T_CELL, 2, nDims, nullptr, 0);
  for (int c = 0; c < data.cols; ++c) {
    std::string name = data.names[c];
    size_t dims[2] = {1, name.size()};
    matvar_t* text =
        Mat_VarCreate(nullptr, MAT_C_CHAR, MAT_T_UTF8, 2, dims, name.data(), 0);
    Mat_VarSetCell(names, c, text);
  }
  Mat_VarWrite(mat, names, MAT_COMPRESSION_NONE);
  Mat_VarFree(names);
  Mat_Close(mat);
}

class KorvaMat : public KorvaCli, public ::testing::WithParamInterface<int> {};

TEST_P(KorvaMat, TrainsTheSameModelAsFromTheSameDataInCsv) {
  const Dataset data = ReadCsv(TrainSet());
  WriteMat(dir / "set.mat", data, GetParam());
  const Result fromMat = Run({"train",
                              In("set.mat"),
                              "--x",
                              "features",
                              "--y",
                              "labels",
                              "--names",
                              "channels",
                              "--model",
                              In("mat.xml"),
                              "--quiet"});
  ASSERT_EQ(fromMat.status, 0) << fromMat.err;
  ASSERT_EQ(
      Run({"train", TrainSet(), "--model", In("csv.xml"), "--quiet"}).status,
      0);
  EXPECT_EQ(ReadFile(In("mat.xml")), ReadFile(In("csv.xml")));

  const Result withLabels = Run({"score",
                                 In("mat.xml"),
                                 In("set.mat"),
                                 "--x",
                                 "features",
                                 "--y",
                                 "labels",
                                 "--output",
                                 In("a.csv")});
  ASSERT_EQ(withLabels.status, 0) << withLabels.err;
  EXPECT_THAT(withLabels.out, HasSubstr("AUC 0."));
  const Result fromCsv =
      Run({"score", In("csv.xml"), TrainSet(), "--output", In("b.csv")});
  ASSERT_EQ(fromCsv.status, 0);
  EXPECT_EQ(ReadFile(In("a.csv")), ReadFile(In("b.csv")));
  const Result noLabels =
      Run({"score", In("mat.xml"), In("set.mat"), "--x", "features"});
  ASSERT_EQ(noLabels.status, 0) << noLabels.err;
  EXPECT_THAT(noLabels.err, Not(HasSubstr("AUC 0.")));
}

INSTANTIATE_TEST_SUITE_P(MatVersions,
                         KorvaMat,
                         ::testing::Values(static_cast<int>(MAT_FT_MAT5),
                                           static_cast<int>(MAT_FT_MAT73)));

TEST_F(KorvaCli, MatFileErrorsNameTheVariable) {
  const Dataset data = ReadCsv(TestSet());
  WriteMat(dir / "set.mat", data, MAT_FT_MAT5);
  const Result missing = Run({"train",
                              In("set.mat"),
                              "--x",
                              "X",
                              "--y",
                              "labels",
                              "--model",
                              In("m.xml")});
  EXPECT_EQ(missing.status, 3);
  EXPECT_THAT(missing.err,
              HasSubstr("no variable 'X' for the features (the file "
                        "holds: features, labels, channels)"));
  const Result swapped = Run({"train",
                              In("set.mat"),
                              "--x",
                              "labels",
                              "--y",
                              "features",
                              "--model",
                              In("m.xml")});
  EXPECT_EQ(swapped.status, 3);
  EXPECT_THAT(swapped.err,
              HasSubstr("variable 'features' (labels) is 240 x 40"));
  const Result noY =
      Run({"train", In("set.mat"), "--x", "features", "--model", In("m.xml")});
  EXPECT_EQ(noY.status, 3);
  EXPECT_THAT(noY.err, HasSubstr("needs --y VAR"));
}

}  // namespace
}  // namespace Korva::Cli
