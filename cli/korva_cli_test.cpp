// korva end to end, the commands' normal behaviour: the real executable with
// the real module, as a user runs it. Bad input and failing outputs are in
// tests/cli_fault_test.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <matio.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "data/csv_io.h"
#include "tests/run_korva.h"

namespace Korva::Data {
namespace {

using namespace KorvaTest;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

using KorvaCli = KorvaRun;

// The scores of a restored classifier are the weighted sums of the weight
// file's weights without its last line: the intercept is not saved in the
// model document.
TEST_F(KorvaCli, TrainThenScoreGivesTheWeightedSumsOfTheWeightFile) {
  const Result train =
      Run("train " + Shared("train.csv") + " --model m.xml --weights w.txt");
  ASSERT_EQ(train.status, kExitOk) << train.err;
  EXPECT_THAT(train.out, HasSubstr("model written to"));
  const Result score = Run("score m.xml " + Shared("test.csv"));
  ASSERT_EQ(score.status, kExitOk) << score.err;
  EXPECT_THAT(score.err, HasSubstr("no intercept"));
  EXPECT_THAT(score.err, HasSubstr("AUC 0."));

  std::istringstream weightFile(Get("w.txt"));
  std::vector<double> w;
  for (double v; weightFile >> v;) w.push_back(v);
  const Dataset test = ReadCsv((shared_ / "test.csv").string());
  ASSERT_EQ(w.size(), static_cast<size_t>(test.cols) + 1) << "weights + W0";
  EXPECT_NE(w.back(), 0.0) << "the trained intercept";
  std::istringstream scores(score.out);
  std::string line;
  std::getline(scores, line);
  EXPECT_EQ(line, "score");
  int row = 0;
  for (; std::getline(scores, line); ++row) {
    ASSERT_LT(row, test.rows);
    double expected = 0.0;
    for (int c = 0; c < test.cols; ++c) expected += w[c] * test.At(row, c);
    EXPECT_NEAR(std::stod(line), expected, 1e-12 * (1.0 + std::abs(expected)))
        << "row " << row;
  }
  EXPECT_EQ(row, test.rows);

  // Other feature names are scored, with a warning naming the first.
  std::string renamed = SharedText("test.csv");
  renamed.replace(renamed.find("Cz_03"), 5, "Xy_03");
  Put("renamed.csv", renamed);
  const Result warned = Run("score m.xml renamed.csv --output s.csv");
  EXPECT_EQ(warned.status, kExitOk);
  EXPECT_THAT(warned.err,
              HasSubstr("differ from the model's, first at feature "
                        "13 (model: \"Cz_03\", data: \"Xy_03\")"));
  EXPECT_EQ(Count(Get("s.csv"), "\n"), test.rows + 1);
}

TEST_F(KorvaCli, JsonLogHoldsTheTrainingTextsAndQuietLogsTheSame) {
  const std::string train = "train " + Shared("train.csv") +
                            " --p-enter 0.1 --p-remove 0.15 --report r.html";
  const Result loud = Run(train + " --model a.xml --log-json a.json");
  const Result quiet = Run(train + " --model b.xml --log-json b.json --quiet");
  ASSERT_EQ(loud.status, kExitOk) << loud.err;
  ASSERT_EQ(quiet.status, kExitOk) << quiet.err;
  const auto log = nlohmann::ordered_json::parse(Get("a.json"));
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
  EXPECT_THAT(progress[progress.size() - 3],
              StartsWith("\n\r\n\rFinal columns included: "));
  const std::string& selected = progress[progress.size() - 2];
  EXPECT_THAT(selected, StartsWith("Selected "));
  EXPECT_THAT(selected, HasSubstr(" features:\r\n("));
  EXPECT_THAT(progress.back(), StartsWith("Elapsed Time "));
  EXPECT_EQ(log["messages"].get<std::vector<std::string>>(), progress)
      << "on a normal end every message also goes to the list";
  EXPECT_EQ(log["short_info"],
            "DOZOD: Scalar P(0.1, 0.15) | Max Iter. : 300 | ");
  const std::string count = selected.substr(9, selected.find(' ', 9) - 9);
  EXPECT_THAT(log["training_info"].get<std::string>(),
              HasSubstr("\nSelected " + count + " features\n"));
  EXPECT_THAT(loud.out, HasSubstr("\nFinal columns included: "));
  EXPECT_THAT(loud.out, Not(HasSubstr("\r")));

  EXPECT_EQ(quiet.out, "");
  auto a = nlohmann::json::parse(Get("a.json"));
  auto b = nlohmann::json::parse(Get("b.json"));
  // Only the elapsed whole seconds may differ between the two runs.
  for (auto* each : {&a, &b}) {
    (*each)["progress"].erase((*each)["progress"].size() - 1);
    (*each)["messages"].erase((*each)["messages"].size() - 1);
  }
  EXPECT_EQ(a, b);
  EXPECT_EQ(Get("a.xml"), Get("b.xml"));

  const std::string html = Get("r.html");
  EXPECT_EQ(Count(html, "<svg "), 4) << "ROC, distributions, weights, map";
  EXPECT_THAT(html, HasSubstr("training set (AUC 0."));
  EXPECT_THAT(html, HasSubstr("Channel &#215; time map"));
  EXPECT_THAT(html, HasSubstr(">Pz<"));
}

// Every fold line of evaluate's output without its time column, which varies
// from run to run.
std::vector<std::string> Folds(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("fold ", 0) == 0)
      lines.push_back(
          line.substr(0, line.find_last_not_of(' ', line.rfind(' ')) + 1));
  return lines;
}

TEST_F(KorvaCli, EvaluateGivesTheSameFoldsInOneOrTwoProcesses) {
  const std::string evaluate =
      "evaluate " + Shared("train.csv") + " --folds 4 --seed 3";
  const Result one = Run(evaluate + " --jobs 1 --report one.html");
  const Result two = Run(evaluate + " --jobs 2");
  ASSERT_EQ(one.status, kExitOk) << one.err;
  ASSERT_EQ(two.status, kExitOk) << two.err;
  EXPECT_EQ(Folds(one.out).size(), 4u);
  EXPECT_EQ(Folds(one.out), Folds(two.out));
  EXPECT_THAT(one.out, HasSubstr("overall: AUC 0."));
  const std::string html = Get("one.html");
  EXPECT_EQ(Count(html, "class=\"roc\""), 4) << "one ROC curve per fold";
  EXPECT_THAT(html, HasSubstr("fold 4 (AUC 0."));

  const Result separate =
      Run("evaluate " + Shared("train.csv") + " --test " + Shared("test.csv") +
          " --p-enter 0.1 --p-remove 0.15");
  ASSERT_EQ(separate.status, kExitOk) << separate.err;
  EXPECT_THAT(separate.out, HasSubstr("test set "));
  EXPECT_THAT(separate.out, HasSubstr("P(0.1, 0.15)"));
  EXPECT_THAT(separate.out, Not(HasSubstr("overall")));
}

TEST_F(KorvaCli, InfoShowsBothReportsAndTheSelectionByName) {
  ASSERT_EQ(Run("train " + Shared("train.csv") + " --model m.xml --max-iter 3")
                .status,
            kExitOk);
  const Result info = Run("info m.xml");
  ASSERT_EQ(info.status, kExitOk) << info.err;
  EXPECT_THAT(info.out,
              HasSubstr("DOZOD: Scalar P(0.05, 0.1) | Max Iter. : 3 |"));
  EXPECT_THAT(info.out, HasSubstr("Selected 3 features"));
  EXPECT_THAT(info.out, HasSubstr("selected features by name:"));
  EXPECT_THAT(info.out, HasSubstr("no intercept"));
}

TEST_F(KorvaCli, DemoWritesEveryOutputAndSummarises) {
  const Result demo =
      Run("demo --output demo/sub --epochs 240 --channels 4 --samples 10");
  ASSERT_EQ(demo.status, kExitOk) << demo.err;
  EXPECT_EQ(Files("demo/sub"),
            (std::vector<std::string>{"calibration.csv",
                                      "model.xml",
                                      "report.html",
                                      "test-scores.csv",
                                      "test.csv",
                                      "training-log.json",
                                      "weights.txt"}));
  EXPECT_THAT(demo.out, HasSubstr("P(0.1, 0.15)"));
  EXPECT_THAT(demo.out, HasSubstr("selected features: "));
  EXPECT_THAT(demo.out, HasSubstr("test set AUC:      0."));
  EXPECT_THAT(demo.out, HasSubstr("test set accuracy: 0."));
}

TEST_F(KorvaCli, EverySubcommandHasHelpAndUnknownOptionsAreUsageErrors) {
  for (const char* command :
       {"train", "score", "evaluate", "info", "edit", "generate", "demo"}) {
    const Result help = Run(std::string(command) + " --help");
    EXPECT_EQ(help.status, kExitOk) << command;
    EXPECT_THAT(help.out, HasSubstr("Usage")) << command;
  }
  EXPECT_EQ(Run("train " + Shared("train.csv") + " --modle x").status,
            kExitUsage);
  EXPECT_EQ(Run("").status, kExitUsage);
}

TEST_F(KorvaCli, EditWithoutDisplaySaysSoAndKeepsTheModel) {
  Put("m.xml", SharedText("model.xml"));
  const Result run = Run(
      "edit m.xml", "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ");
  EXPECT_EQ(run.status, kExitNoDisplay);
  EXPECT_THAT(run.err, HasSubstr("no display"));
  EXPECT_EQ(Get("m.xml"), SharedText("model.xml"));
}

// ---- MATLAB files -----------------------------------------------------

// Writes `data` as "features" (epochs x features), "labels" and a cell array
// "channels" of the names into a MATLAB file of `version`.
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
    Mat_VarSetCell(
        names,
        c,
        Mat_VarCreate(
            nullptr, MAT_C_CHAR, MAT_T_UTF8, 2, dims, name.data(), 0));
  }
  Mat_VarWrite(mat, names, MAT_COMPRESSION_NONE);
  Mat_VarFree(names);
  Mat_Close(mat);
}

class KorvaMat : public KorvaRun, public ::testing::WithParamInterface<int> {};

TEST_P(KorvaMat, TrainsAndScoresAsFromTheSameDataInCsv) {
  WriteMat(
      dir_ / "set.mat", ReadCsv((shared_ / "train.csv").string()), GetParam());
  const Result fromMat =
      Run("train set.mat --x features --y labels --names channels --model "
          "mat.xml --quiet");
  ASSERT_EQ(fromMat.status, kExitOk) << fromMat.err;
  EXPECT_EQ(Get("mat.xml"), SharedText("model.xml"));
  const Result scored =
      Run("score mat.xml set.mat --x features --y labels --output a.csv");
  ASSERT_EQ(scored.status, kExitOk) << scored.err;
  EXPECT_THAT(scored.out, HasSubstr("AUC 0."));
  ASSERT_EQ(
      Run("score mat.xml " + Shared("train.csv") + " --output b.csv").status,
      kExitOk);
  EXPECT_EQ(Get("a.csv"), Get("b.csv"));
  const Result noLabels = Run("score mat.xml set.mat --x features");
  ASSERT_EQ(noLabels.status, kExitOk) << noLabels.err;
  EXPECT_THAT(noLabels.err, Not(HasSubstr("AUC 0.")));
}

INSTANTIATE_TEST_SUITE_P(MatVersions,
                         KorvaMat,
                         ::testing::Values(static_cast<int>(MAT_FT_MAT5),
                                           static_cast<int>(MAT_FT_MAT73)));

// MATLAB input that cannot be used sits here, beside the writer of the files.
TEST_F(KorvaCli, MatFileErrorsNameTheFileOrVariable) {
  WriteMat(
      dir_ / "set.mat", ReadCsv((shared_ / "test.csv").string()), MAT_FT_MAT5);
  Put("empty.mat", "");
  Put("binary.mat", BinaryBytes(5000));
  const std::pair<std::string, std::string> cases[] = {
      {"set.mat --x X --y labels",
       "no variable 'X' for the features (the file holds: features, labels, "
       "channels)"},
      {"set.mat --x labels --y features",
       "variable 'features' (labels) is 240 x 40"},
      {"set.mat --x features", "needs --y VAR"},
      {"empty.mat --x X --y y",
       "empty.mat: no variable 'X' for the features (the file holds: none)"},
      {"binary.mat --x X --y y", "binary.mat: cannot open it as a MATLAB file"},
  };
  for (const auto& [arguments, message] : cases) {
    const Result run = Run("train " + arguments + " --model m.xml");
    EXPECT_EQ(run.status, kExitData) << arguments;
    EXPECT_THAT(run.err, HasSubstr(message)) << arguments;
  }
  EXPECT_FALSE(fs::exists(dir_ / "m.xml"));
}

}  // namespace
}  // namespace Korva::Data
