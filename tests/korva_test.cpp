// korva as a user runs it: the real executable with the real module. One
// table of exit statuses (a row per kind of failure), the promises about
// outputs (never half-written, earlier files kept), and the normal behaviour
// of each command. The parsers' own refusals are pinned by the unit tests in
// data/.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <matio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <tuple>

#include "cli/exit_status.h"
#include "data/csv_io.h"
#include "testing/korva_runner.h"
#include "text/number_text.h"

namespace Korva::Testing {
namespace {

using namespace Korva::Cli;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

std::string SpellerTable(bool missing = false);

// Every test gets its own folder; the suite shares a training set of 360
// epochs and a test set of 240 (4 channels x 10 samples, 40 features) and a
// model and weight file trained on the training set, and a recording of 20 s
// (4 channels at 256 Hz) with the model trained on its epochs.
class Korva : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    shared_ = std::make_unique<TempDir>();
    const std::string k = Program(KORVA_BINARY);
    const Result made = Shell(
        shared_->Path(),
        k + " generate --epochs 360 --channels 4 --samples 10 --seed 11 " +
            "--output train.csv && " + k +
            " generate --epochs 240 --channels 4 --samples 10 --seed 12 " +
            "--output test.csv && " + k +
            " train train.csv --model model.xml --weights weights.txt --quiet" +
            " && " + k +
            " generate --seconds 20 --channels 4 --output run.vhdr --quiet "
            "&& " +
            k +
            " train run.vhdr --target-events 2 --nontarget-events 1 --model "
            "recipe.xml " +
            "--quiet");
    ASSERT_EQ(made.status, kExitOk) << made.err;
  }
  static void TearDownTestSuite() { shared_.reset(); }

  Result Run(const std::string& arguments, const std::string& prefix = "") {
    return Shell(dir_.Path(), prefix + Program(KORVA_BINARY) + " " + arguments);
  }

 public:
  static std::string Shared(const std::string& name) {
    return ReadFile(*shared_ / name);
  }

 protected:
  void Put(const std::string& name, const std::string& text) {
    WriteFile(dir_ / name, text);
  }
  std::string Get(const std::string& name) { return ReadFile(dir_ / name); }
  std::vector<std::string> Here(const std::string& sub = "") {
    return Files(dir_.Path() / sub);
  }
  // The shared data and model in the test's folder.
  void PutShared() {
    for (const char* name : {"train.csv", "test.csv", "model.xml"})
      Put(name, Shared(name));
  }
  // The shared recording and its model in the test's folder, and a headset
  // CSV recording of the same channels.
  void PutSharedRecording() {
    for (const char* name : {"run.vhdr", "run.vmrk", "run.eeg", "recipe.xml"})
      Put(name, Shared(name));
    Put("run.csv", HeadsetCsv());
  }

 public:
  // 20 s of a headset's CSV export: time in whole milliseconds at 256 Hz
  // (from `back` on running backwards), channels Fz, Cz, Pz and Oz, and a
  // marker column with a flash every 250 ms, every sixth a 2, else a 1.
  static std::string HeadsetCsv(int back = 1 << 30) {
    std::string csv = "Timestamp,Fz,Cz,Pz,Oz,Marker\n";
    char row[128];
    for (int i = 0; i < 20 * 256; ++i) {
      const int k = i < back ? i : 2 * back - i;
      std::snprintf(row,
                    sizeof(row),
                    "%.3f,%.2f,%.2f,%.2f,%.2f,%d\n",
                    1.7e9 + std::round(k * 1000.0 / 256) / 1000,
                    10 * std::sin(i * 0.1),
                    10 * std::cos(i * 0.13),
                    10 * std::sin(i * 0.07 + 1),
                    10 * std::cos(i * 0.05),
                    i % 64 == 10 ? 1 + (i / 64 % 6 == 0) : 0);
      csv += row;
    }
    return csv;
  }

 protected:

  inline static std::unique_ptr<TempDir> shared_;
  TempDir dir_;
};

std::string Replace(std::string text,
                    const std::string& a,
                    const std::string& b) {
  const size_t at = text.find(a);
  return at == std::string::npos ? text : text.replace(at, a.size(), b);
}

// The AUC korva printed right after `label` (as in "AUC 0.855, accuracy"),
// NaN when the text holds no such label.
double PrintedAuc(const std::string& text, const std::string& label) {
  const size_t at = text.find(label);
  if (at == std::string::npos) return std::nan("");
  return std::strtod(text.c_str() + at + label.size(), nullptr);
}

// The suite's data have their classes well apart: the shared model scores an
// AUC of 0.83 on the test set and 0.91 on its training set; a model that
// learned nothing scores about 0.5.
constexpr double kMinAuc = 0.8;

// The CSV text with its first `rows` data rows, each label set by `label`.
std::string FirstRows(const std::string& csv,
                      int rows,
                      const char* (*label)(int)) {
  std::istringstream in(csv);
  std::string line, out;
  std::getline(in, line);
  out = line + "\n";
  for (int r = 0; r < rows && std::getline(in, line); ++r)
    out += std::string(label(r)) + line.substr(line.find(',')) + "\n";
  return out;
}

// The commands `korva --help` lists under "Subcommands:", but help itself.
std::vector<std::string> ListedCommands(const std::string& help) {
  std::vector<std::string> commands;
  const size_t at = help.find("Subcommands:");
  if (at == std::string::npos) return commands;
  std::istringstream lines(help.substr(at));
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line) && line.rfind("  ", 0) == 0) {
    const std::string name = line.substr(2, line.find(' ', 2) - 2);
    if (name != "help") commands.push_back(name);
  }
  return commands;
}

// ---- one row per kind of failure --------------------------------------

// The shared recording's model with `from` in its recipe made `to`.
std::string RecipeModel(const char* from, const char* to) {
  return Replace(Korva::Shared("recipe.xml"), from, to);
}

// The shared recording's model with the causal filter; with `speller`, its
// marker lists on events the recording lacks, so that codes 1 and 2 of a
// layout are its flashes.
std::string CausalModel(bool speller = false) {
  const std::string causal =
      RecipeModel("FilterOrder=\"4\"", "FilterOrder=\"4\" Filter=\"causal\"");
  if (!speller) return causal;
  return Replace(Replace(causal, "<Target Event=\"2\"", "<Target Event=\"99\""),
                 "<NonTarget Event=\"1\"",
                 "<NonTarget Event=\"98\"");
}

// The shared recording's header with `from` made `to`.
std::string RecordingHeader(const char* from, const std::string& to) {
  return Replace(Korva::Shared("run.vhdr"), from, to);
}

// A BrainVision header of `channels` INT_16 channels c1, c2, ... whose
// samples are in `data`, with the shared recording's markers.
std::string WideHeader(int channels, const char* data) {
  std::string text =
      "Brain Vision Data Exchange Header File Version 1.0\n[Common Infos]\n"
      "DataFile=" +
      std::string(data) +
      "\nMarkerFile=run.vmrk\nNumberOfChannels=" + std::to_string(channels) +
      "\nSamplingInterval=3906.25\n[Binary Infos]\nBinaryFormat=INT_16\n"
      "[Channel Infos]\n";
  for (int c = 1; c <= channels; ++c)
    text += "Ch" + std::to_string(c) + "=c" + std::to_string(c) + ",,1,uV\n";
  return text;
}

// A headset CSV of 2000 samples at 250 Hz, a marker 1 or 2 every 50, the
// time of the rows from sample `from` (from 1) on moved by `shift` s.
std::string HeadsetCsv(int from = 0, double shift = 0) {
  std::string text = "Time,Fz,Marker\n";
  for (int i = 0; i < 2000; ++i)
    text += std::to_string(i * 0.004 + (i + 1 >= from && from ? shift : 0)) +
            "," + std::to_string(i % 7) + "," +
            (i % 50 ? "0" : i % 100 ? "1" : "2") + "\n";
  return text;
}

// `text` as UTF-16 (little-endian, with its byte order mark).
std::string Utf16(const std::string& text) {
  std::string wide = "\xFF\xFE";
  for (char c : text) wide += std::string{c, '\0'};
  return wide;
}

// A full disk, or a fold worker killed (KORVA_KILL_FORK), by the preloaded
// library; ASan (in sanitizer builds) wants to be first in the library list.
#define KORVA_SHIM                                \
  "LD_PRELOAD=" KORVA_WRITE_FAILURE_SHIM          \
  " ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}" \
  "verify_asan_link_order=0\" "

// 229 KB of CSV whose training would need about 2 GB.
std::string FourRowsOf16000Columns() {
  std::string csv = "label";
  for (int c = 0; c < 16000; ++c) csv += ",f" + std::to_string(c);
  for (int r = 0; r < 4; ++r) {
    csv += r % 2 ? "\n1" : "\n-1";
    for (int c = 0; c < 16000; ++c) csv += "," + std::to_string(4 * c + r);
  }
  return csv + "\n";
}

// The test buffer serving the shared recording (options: how it
// misbehaves) in the background, its port in the file port once it listens.
#define KORVA_BUFFER(options)                                          \
  KORVA_FT_SERVER " run.vhdr --port-file port --lifetime 10 " options \
                  " >/dev/null 2>&1 & i=0; while [ ! -s port ] && "   \
                  "[ $i -lt 500 ]; do sleep 0.01; i=$((i+1)); done"
#define KORVA_AT_BUFFER "--source ft://127.0.0.1:$(cat port)"

struct Failure {
  const char* name;
  std::string (*file)();  // the bad.* file the command names, if any
  const char* command;    // run with the shared data in the folder
  int status;
  const char* message;     // part of standard error
  const char* env = "";    // variables for the command
  const char* setup = "";  // shell commands that make more files first
};

void PrintTo(const Failure& f, std::ostream* os) { *os << f.name; }

// A classifier document of two features, the first selected, with `weights`
// as its Weights text and `more` after the sections.
std::string TwoFeatureModel(const char* weights, const char* more = "") {
  return std::string(
             "<KorvaClassifier Name=\"DOZOD\"><Classifier/><Configuration/>"
             "<Info Count=\"2\"><IN>1\t0\t</IN><Weights>") +
         weights + "</Weights></Info><Protocol/>" + more + "</KorvaClassifier>";
}

// A document of one feature x with weight 1 and intercept 0, so each score
// is x, deciding by `configuration`'s threshold attributes; `scores` are its
// class scores (-1 and +1 mean, variance, rows) unless empty.
std::string OneFeatureModel(const std::string& configuration,
                            const std::string& scores = "-1 3 1 3 3") {
  std::istringstream in(scores);
  std::string m0, m1, v, n0, n1;
  in >> m0 >> m1 >> v >> n0 >> n1;
  return "<KorvaClassifier Name=\"DOZOD\"><Classifier/><Configuration " +
         configuration +
         "/><Info Count=\"1\"><IN>1\t</IN><Weights>1\t</Weights></Info>"
         "<Protocol/><Intercept Value=\"0\"/>" +
         (scores.empty()
              ? ""
              : "<ClassScores NegativeMean=\"" + m0 + "\" PositiveMean=\"" +
                    m1 + "\" PooledVariance=\"" + v + "\" Negatives=\"" + n0 +
                    "\" Positives=\"" + n1 + "\"/>") +
         "</KorvaClassifier>";
}

// The shared training set with each label replaced as `relabel` says.
std::string Relabelled(const char* (*relabel)(const std::string&)) {
  std::istringstream in(Korva::Shared("train.csv"));
  std::string line, out;
  std::getline(in, line);
  out = line + "\n";
  while (std::getline(in, line)) {
    const size_t comma = line.find(',');
    out += relabel(line.substr(0, comma)) + line.substr(comma) + "\n";
  }
  return out;
}

// The shared training set with a column `header` before its first, holding
// value(r) in row r (from 0).
std::string WithFirstColumn(const std::string& header,
                            std::string (*value)(int)) {
  std::istringstream in(Korva::Shared("train.csv"));
  std::string line, out;
  std::getline(in, line);
  out = header + "," + line + "\n";
  for (int r = 0; std::getline(in, line); ++r)
    out += value(r) + "," + line + "\n";
  return out;
}

// The shared test set (40 target rows of 240) as a copy-spelling table for
// a 6x6 layout: 10 selections, targets A to J, of 2 rounds of the codes 1 to
// 12, the flashes that light the target taken from target rows; the last
// flash left out when `missing`.
std::string SpellerTable(bool missing) {
  std::istringstream in(Korva::Shared("test.csv"));
  std::string line, text;
  std::getline(in, line);
  text = "selection,code," + line + "\n";
  std::vector<std::string> rows[2];  // non-target, target
  while (std::getline(in, line)) rows[line.rfind("1,", 0) == 0].push_back(line);
  size_t next[2] = {0, 0};
  for (int s = 0; s < 10; ++s)
    for (int flash = 0; flash < 24 - missing * (s == 9); ++flash) {
      const int code = flash % 12 + 1;  // A..F is row 1 (code 7), column s+1
      const bool target = code == s % 6 + 1 || code == 7 + s / 6;
      text += std::to_string(s + 1) + "," + std::to_string(code) + "," +
              rows[target][next[target]++] + "\n";
    }
  return text;
}

// clang-format off
const Failure kFailures[] = {
    {"unknown_option", nullptr, "train train.csv --model m.xml --modle x", kExitUsage, "unknown option --modle; did you mean --model?"},
    {"misspelt_option_with_value", nullptr, "train train.csv --model m.xml --p-entr 0.1", kExitUsage, "unknown option --p-entr; did you mean --p-enter? (korva train --help lists the options)"},
    {"help_of_an_unknown_command", nullptr, "help evaluat", kExitUsage, "unknown command 'evaluat'; did you mean 'evaluate'?"},
    {"no_subcommand", nullptr, "", kExitUsage, "subcommand"},
    {"p_range_reversed", nullptr, "train train.csv --model m.xml --p-enter 0.2 --p-remove 0.1", kExitUsage, "p-enter must be above 0 and below p-remove, p-remove at most 1"},
    {"p_enter_nan", nullptr, "train train.csv --model m.xml --p-enter nan --p-remove 0.5", kExitUsage, "are refused"},
    {"p_remove_above_one", nullptr, "evaluate train.csv --p-enter 0.5 --p-remove 1.5", kExitUsage, "are refused"},
    {"p_values_in_percent", nullptr, "train train.csv --model m.xml --p-enter 10 --p-remove 15", kExitUsage, "; did you mean 0.10 and 0.15? (p-values are fractions here; the dialog shows them in percent)"},
    {"p_enter_at_the_default_p_remove", nullptr, "train train.csv --model m.xml --p-enter 0.1", kExitUsage, "p-enter 0.1 and p-remove 0.1 are refused: p-enter must be above 0 and below p-remove, p-remove at most 1; p-remove was not given, so it is the default, 0.1"},
    {"data_empty", [] { return std::string(); }, "train bad.csv --model m.xml", kExitData, "bad.csv: empty file"},
    {"data_binary", [] { return BinaryBytes(4000); }, "train bad.csv --model m.xml", kExitData, "bad.csv, line 1: a NUL byte: this is binary data, not CSV text"},
    {"data_missing", nullptr, "train missing.csv --model m.xml", kExitData, "missing.csv: cannot open: No such file"},
    {"data_folder", nullptr, "train . --model m.xml", kExitData, "cannot read: Is a directory"},
    {"data_columns_differ", [] { return std::string("label,a\n1,2\n-1,3\n"); }, "score model.xml bad.csv", kExitData, "bad.csv has 1 feature columns but model model.xml was trained on 40"},
    {"score_extra_column", [] {
       std::string header = "label", row = "1";
       for (const char* channel : {"Fz", "Cz", "Pz", "Oz"})
         for (int s = 1; s <= 10; ++s) header += std::string(",") + channel + (s < 10 ? "_0" : "_") + std::to_string(s), row += ",0";
       return header + ",site\n" + row + ",3\n"; },
     "score model.xml bad.csv", kExitData, "bad.csv has 41 feature columns but model model.xml was trained on 40; the model has no feature named site: leave those columns out with --drop site"},
    {"test_columns_differ", [] { return std::string("label,a\n1,2\n-1,3\n"); }, "evaluate train.csv --test bad.csv", kExitData, "bad.csv has 1 feature columns but train.csv has 40"},
    {"too_few_rows_for_folds", [] { return std::string("label,a\n1,2\n-1,3\n1,4\n-1,5\n"); }, "evaluate bad.csv --folds 3", kExitData, "cannot split bad.csv into 3 stratified folds"},
    {"module_missing", nullptr, "train train.csv --model m.xml --module none.kvc", kExitModule, "module file not found: none.kvc"},
    {"module_not_a_library", [] { return std::string("text"); }, "train train.csv --model m.xml --module ./bad.kvc", kExitModule, "cannot load module ./bad.kvc"},
    {"module_without_entry_points", nullptr, "info model.xml", kExitModule, "has no entry point CreateInstance", "KORVA_MODULE=" KORVA_HOST_LIBRARY " "},
    {"model_absent", nullptr, "score absent.xml test.csv", kExitModel, "cannot read model absent.xml"},
    {"model_not_xml", [] { return BinaryBytes(3000); }, "score bad.xml test.csv", kExitModel, "is not a valid XML document"},
    {"model_of_another_classifier", [] { return std::string("<KorvaClassifier Name=\"OTHER\"/>"); }, "info bad.xml", kExitModel, "is not a document of the DOZOD classifier"},
    {"model_section_missing", [] { return std::string("<KorvaClassifier Name=\"DOZOD\"><Classifier/></KorvaClassifier>"); }, "info bad.xml", kExitModel, "lacks a section"},
    {"model_count_above_the_limit", [] { return std::string("<KorvaClassifier Name=\"DOZOD\"><Classifier/><Configuration/><Info Count=\"1048577\"/><Protocol/></KorvaClassifier>"); }, "score bad.xml test.csv", kExitModel, "declares 1048577 features, more than the 1048576 a classifier document may hold"},
    {"model_untrained", [] { return std::string("<KorvaClassifier Name=\"DOZOD\"><Classifier/><Configuration/><Info/><Protocol/></KorvaClassifier>"); }, "score bad.xml test.csv", kExitModel, "holds no trained classifier"},
    {"output_folder_missing", nullptr, "train train.csv --model m.xml --report nowhere/r.html", kExitOutput, "cannot write nowhere/r.html: No such file or directory"},
    {"output_below_a_file", nullptr, "train train.csv --model train.csv/m.xml", kExitOutput, "cannot write train.csv/m.xml: Not a directory"},
    {"standard_output_full", nullptr, "score model.xml test.csv >/dev/full", kExitOutput, "cannot write standard output"},
    {"no_display", nullptr, "edit model.xml", kExitNoDisplay, "no display"},
    {"fold_training_throws", nullptr, "evaluate train.csv --module " KORVA_THROWING_MODULE, kExitTrainingException, "fold 1: training raised an exception: planted failure", "KORVA_TEST_THROW=std "},
    // Hostile input: each of these crashed, hung, lost a file or misled.
    {"unknown_command", nullptr, "trian train.csv", kExitUsage, "unknown command 'trian'; did you mean 'train'?"},
    {"unknown_command_letters_swapped", nullptr, "ifno model.xml", kExitUsage, "unknown command 'ifno'; did you mean 'info'? (commands:"},
    {"unknown_command_short_two_edits_off", nullptr, "xemx", kExitUsage, "unknown command 'xemx' (commands:"},
    {"unknown_command_only_prefix", nullptr, "ev train.csv", kExitUsage, "unknown command 'ev'; did you mean 'evaluate'?"},
    {"unknown_command_ambiguous_prefix", nullptr, "e train.csv", kExitUsage, "unknown command 'e' (commands:"},
    {"misspelt_option_two_swaps", nullptr, "train train.csv --model m.xml --p-etnre 0.1", kExitUsage, "unknown option --p-etnre; did you mean --p-enter? ("},
    {"seed_negative", nullptr, "evaluate train.csv --seed -1", kExitUsage, "--seed: must be a whole number, 0 or more (-1)"},
    {"folds_with_test", nullptr, "evaluate train.csv --test test.csv --folds 3", kExitUsage, "with --test the model is trained on all of DATA (with --tune they set the cross-validation of DATA that chooses the setting)"},
    {"grid_without_tune", nullptr, "evaluate train.csv --p-enter 0.01,0.05", kExitUsage, "--p-enter takes one value here, and 0.01,0.05 is a list: a grid of settings, which --tune (or korva tune) chooses from"},
    {"grid_without_a_pair", nullptr, "tune train.csv --p-enter 0.1,0.2 --p-remove 0.1", kExitUsage, "the grid holds no setting: in every pair of --p-enter 0.1, 0.2 and --p-remove 0.1 p-enter is not below p-remove"},
    {"grid_p_value_twice", nullptr, "tune train.csv --p-remove 0.1,0.2,0.1", kExitUsage, "--p-remove lists 0.1 twice"},
    {"grid_p_value_in_percent", nullptr, "tune train.csv --p-enter 5 --model m.xml", kExitUsage, "--p-enter 5 is refused: a p-value of the grid must be above 0 and at most 1 (p-values are fractions here"},
    {"tune_model_overwrites_data", nullptr, "tune train.csv --model train.csv", kExitUsage, "DATA and --model name the same file (train.csv)"},
    {"tune_module_without_p_values", nullptr, "tune train.csv --model m.xml --module " KORVA_THROWING_MODULE, kExitModule, "the classifier's configuration has no p_Enter attribute; it takes no stepwise parameters"},
    {"mat_variables_for_csv", nullptr, "train train.csv --model m.xml --x X", kExitUsage, "train.csv is not one"},
    {"model_overwrites_data", nullptr, "train train.csv --model train.csv", kExitUsage, "DATA and --model name the same file (train.csv)"},
    {"output_overwrites_model", nullptr, "score model.xml test.csv --output model.xml", kExitUsage, "MODEL and --output name the same file"},
    {"two_outputs_one_file", nullptr, "train train.csv --model x.xml --weights ./x.xml", kExitUsage, "--model and --weights name the same file"},
    {"data_endless_zeros", nullptr, "train /dev/zero --model m.xml", kExitData, "/dev/zero, line 1: a NUL byte"},
    {"data_utf16", [] { return std::string("\xFF\xFEl\0a\0b\0e\0l\0,\0a\0\n\0"); }, "train bad.csv --model m.xml", kExitData, "is UTF-16 text; save it as UTF-8"},
    {"data_cr_line_ends", [] { return std::string("label,a\r1,2\r-1,3\r"); }, "train bad.csv --model m.xml", kExitData, "carriage return alone"},
    {"data_too_many_columns", [] { return "label" + std::string(1 << 21, ','); }, "train bad.csv --model m.xml", kExitData, "more than the 1048577 a data file may have"},
    {"generate_too_large", nullptr, "generate --epochs 2147483647", kExitUsage, "more than the 2147483647 a data set may hold"},
    {"module_truncated", [] { return ReadFile(KORVA_MODULE_FILE).substr(0, 100000); }, "info model.xml --module ./bad.kvc", kExitModule, "the file is truncated"},
    {"model_is_a_folder", nullptr, "info .", kExitModel, "cannot read model .: it is a folder"},
    {"model_weight_not_a_number", [] { return std::string("<KorvaClassifier Name=\"DOZOD\"><Classifier/><Configuration/><Info Count=\"1\"><IN>1\t</IN><Weights>nan\t</Weights></Info><Protocol/></KorvaClassifier>"); }, "score bad.xml test.csv", kExitModel, "is not a finite number (\"nan\")"},
    {"model_unselected_weight_unreadable", [] { return TwoFeatureModel("0.5\t-\t"); }, "score bad.xml test.csv", kExitModel, "bad.xml: the weight of feature 2 is not a finite number (\"-\")"},
    {"model_weight_decimal_comma", [] { return TwoFeatureModel("0,5\t0\t"); }, "info bad.xml", kExitModel, "the weight of feature 1 is not a finite number (\"0,5\")"},
    {"model_weight_hexadecimal", [] { return TwoFeatureModel("0x1p-3\t0\t"); }, "info bad.xml", kExitModel, "(\"0x1p-3\")"},
    {"model_more_weights_than_features", [] { return TwoFeatureModel("0.5\t0\t7\t"); }, "info bad.xml", kExitModel, "element Weights holds more than its 2 values"},
    {"model_intercept_not_one_number", [] { return TwoFeatureModel("0.5\t0\t", "<Intercept Value=\"1.5abc\"/>"); }, "score bad.xml test.csv", kExitModel, "the Value of element Intercept is not one finite number (\"1.5abc\")"},
    {"model_intercept_not_finite", [] { return TwoFeatureModel("0.5\t0\t", "<Intercept Value=\"nan\"/>"); }, "info bad.xml", kExitModel, "(\"nan\")"},
    {"model_intercept_twice", [] { return TwoFeatureModel("0.5\t0\t", "<Intercept Value=\"1\"/><Intercept Value=\"2\"/>"); }, "info bad.xml", kExitModel, "element Intercept appears more than once"},
    {"model_threshold_mode_unknown", [] { return OneFeatureModel("ThresholdMode=\"2\""); }, "info bad.xml", kExitModel, "the ThresholdMode of element Configuration is neither 0 (Max) nor 1 (Range) (\"2\")"},
    {"model_class_scores_unreadable", [] { return OneFeatureModel("", "-1 3 1 x 3"); }, "info bad.xml", kExitModel, "the Negatives of element ClassScores is not a number of rows (\"x\")"},
    {"threshold_not_a_number", nullptr, "train train.csv --model m.xml --threshold half", kExitUsage, "--threshold: must be a finite number or 'balanced' (half)"},
    {"threshold_hexadecimal", nullptr, "train train.csv --model m.xml --threshold 0x10", kExitUsage, "--threshold: must be a finite number or 'balanced' (0x10)"},
    {"threshold_balanced_in_range_mode", nullptr, "train train.csv --model m.xml --threshold balanced --threshold-mode range", kExitUsage, "--threshold balanced chooses a score cut"},
    {"labels_one_and_two", [] { return Relabelled([](const std::string& l) { return l == "1" ? "2" : "1"; }); }, "train bad.csv --model m.xml", kExitData, "bad.csv: the labels are 1 (300 rows) and 2 (60 rows); this classifier takes +1 for the target and -1 for the rest: say which label is the target with --target-label (--target-label 2 makes its rows +1"},
    {"target_label_absent", nullptr, "train train.csv --model m.xml --target-label 2", kExitData, "train.csv: --target-label 2 is not one of its labels, which are -1 (300 rows) and 1 (60 rows)"},
    {"one_class_after_target_label", [] { return Relabelled([](const std::string&) { return "7"; }); }, "train bad.csv --model m.xml --target-label 7", kExitData, "bad.csv: only one class (360 rows labelled +1, 0 labelled -1); training needs rows of both"},
    {"one_class_to_evaluate", [] { return Relabelled([](const std::string&) { return "-1"; }); }, "evaluate bad.csv", kExitData, "only one class (0 rows labelled +1, 360 labelled -1)"},
    {"written_row_index", [] { return WithFirstColumn("", [](int r) { return std::to_string(r); }); }, "train bad.csv --model m.xml", kExitData, "bad.csv, column 1 has no name and counts 0, 1, 2, ...: a row index written with the data"},
    {"drop_unknown_column", nullptr, "score model.xml test.csv --drop Xx_01", kExitData, "test.csv, line 1: no column \"Xx_01\" to drop"},
    {"groups_fewer_than_folds", [] { return WithFirstColumn("run", [](int r) { return "r" + std::to_string(r % 2); }); }, "evaluate bad.csv --folds 3", kExitData, "cannot split bad.csv into folds of whole groups: column run holds 2 groups, 3 folds asked (give --folds 2 or fewer)"},
    {"model_given_as_data", nullptr, "train model.xml --model m.xml", kExitData, "model.xml is XML, not CSV data (a classifier document? it goes where a command takes MODEL"},
    {"data_given_as_model", nullptr, "score test.csv model.xml", kExitModel, "model test.csv is not a classifier document but CSV text (its first line: \"label,Fz_01,"},
    {"decimal_commas_in_semicolon_csv", [] { return std::string("label;a;b\n1;0,5;1\n-1;1,5;2\n"); }, "train bad.csv --model m.xml", kExitData, "bad.csv, line 2, column 2 (a): non-numeric value \"0,5\" (a decimal comma? the fields are separated by semicolons and numbers take a decimal point)"},
    {"display_unreachable", nullptr, "edit model.xml", kExitNoDisplay, "Qt could not open one", "DISPLAY=:99 "},
    {"platform_unknown", nullptr, "edit model.xml", kExitNoDisplay, "Qt could not open one", "QT_QPA_PLATFORM=nowhere "},
    {"platform_offscreen", nullptr, "edit model.xml", kExitNoDisplay, "draws nowhere a user can see", "QT_QPA_PLATFORM=offscreen "},
    {"platform_minimal_with_display", nullptr, "edit model.xml", kExitNoDisplay, "draws nowhere a user can see", "QT_QPA_PLATFORM=minimal DISPLAY=:0 "},
    {"outputs_share_standard_output", nullptr, "train train.csv --model - --weights-csv - --summary -", kExitUsage, "--model and --weights-csv both write to standard output"},
    {"scores_and_summary_share_standard_output", nullptr, "score model.xml test.csv --summary /dev/stdout", kExitUsage, "--output and --summary both write to standard output"},
    {"outputs_share_standard_error", nullptr, "evaluate train.csv --oof-scores /dev/fd/2 --report /proc/self/fd/2", kExitUsage, "--report and --oof-scores both write to standard error"},
    {"scores_to_closed_standard_output", nullptr, "score model.xml test.csv >&-", kExitOutput, "cannot write standard output: it is closed"},
    {"model_to_closed_standard_output", nullptr, "train train.csv --model - --quiet >&-", kExitOutput, "cannot write standard output: it is closed"},
    {"help_on_full_disk", nullptr, "train --help >/dev/full", kExitOutput, "cannot write standard output"},
    {"version_on_full_disk", nullptr, "--version >/dev/full", kExitOutput, "cannot write standard output"},
    {"version_to_closed_standard_output", nullptr, "--version >&-", kExitOutput, "cannot write standard output: it is closed or not open for writing"},
    {"seed_above_64_bits", nullptr, "evaluate train.csv --seed 18446744073709551616", kExitUsage, "--seed: must be at most 18446744073709551615"},
    {"memory_limit_malformed", nullptr, "train train.csv --model m.xml --memory-limit lots", kExitUsage, "--memory-limit: is a size such as 512M"},
    {"memory_limit_hexadecimal", nullptr, "train train.csv --model m.xml --memory-limit 0x10", kExitUsage, "--memory-limit: is a size such as 512M"},
    {"training_above_memory_limit", nullptr, "evaluate train.csv --memory-limit 1M", kExitData, "more than the 1 MiB allowed for training; --memory-limit raises the limit"},
    {"recipe_model_given_a_table", nullptr, "score recipe.xml test.csv", kExitData, "model recipe.xml was trained on recordings and cuts its features from recordings by its recipe (korva info shows it): give it recordings, not the feature table test.csv"},
    {"table_model_given_a_recording", nullptr, "score model.xml run.vhdr", kExitData, "model model.xml was trained on a feature table and has no recipe to cut the recordings run.vhdr with"},
    {"recording_at_another_rate", [] { return RecipeModel("SamplingRate=\"256\"", "SamplingRate=\"250\""); }, "score bad.xml run.vhdr", kExitData, "run.vhdr: sampled at 256 Hz, where the recipe was made at 250 Hz"},
    {"recording_without_a_channel", [] { return RecipeModel("Name=\"Oz\"", "Name=\"O1\""); }, "score bad.xml run.vhdr", kExitData, "run.vhdr: no channel O1 (its channels: Fz, Cz, Pz, Oz)"},
    {"recording_without_the_non_targets", [] { return RecipeModel("<NonTarget Event=\"1\"", "<NonTarget Event=\"9\""); }, "score bad.xml run.vhdr", kExitData, "run.vhdr: no event matches the non-target list (9); its events: Stimulus/S  1 (61), Stimulus/S  2 (12)"},
    {"resample_to_a_rate_of_no_fraction", nullptr, "epochs run.vhdr --target-events 2 --nontarget-events 1 --resample 300.7 --output e.csv", kExitData, "run.vhdr: sampled at 256 Hz, which cannot be resampled to 300.7 Hz: the ratio of the rates is no fraction of whole numbers up to 1000"},
    {"groups_by_subject_of_recordings", nullptr, "evaluate run.vhdr --target-events 2 --nontarget-events 1 --groups subject", kExitUsage, "--groups subject groups the runs of EEG-BIDS folders, and run.vhdr is none"},
    {"bids_choice_without_a_bids_folder", nullptr, "epochs run.vhdr --target-events 2 --nontarget-events 1 --task p300 --output e.csv", kExitUsage, "choose the runs of EEG-BIDS folders, and no recording given is one"},
    {"xdf_chunk_past_the_end", [] { return std::string("XDF:\x04\x64\0\0\0\x01\0", 11); }, "epochs bad.xdf --target-events 2 --nontarget-events 1 --output e.csv", kExitData, "bad.xdf: the chunk at byte 4 claims 100 bytes, more than the file holds (truncated?)"},
    {"recording_without_the_recipes_events", [] { return Replace(RecipeModel("<Target Event=\"2\"", "<Target Event=\"9\""), "<NonTarget Event=\"1\"", "<NonTarget Event=\"8\""); }, "score bad.xml run.vhdr", kExitData, "run.vhdr: no event matches the non-target list (8); its events: Stimulus/S  1 (61), Stimulus/S  2 (12)"},
    {"unlabelled_session_of_bare_codes", [] { return std::regex_replace(Korva::HeadsetCsv(), std::regex(",[12]\n"), ",7\n"); }, "score recipe.xml bad.csv", kExitData, "; a session not labelled yet is scored at the events --stimulus-events names"},
    {"stream_zero_phase_model", nullptr, "stream recipe.xml --replay run.vhdr", kExitModel, "model recipe.xml band-passes forward and backward (zero-phase): each filtered sample depends on samples after it, which a stream has not yet given; train the model with --filter causal"},
    {"stream_table_model", nullptr, "stream model.xml --replay run.vhdr", kExitModel, "model model.xml was trained on a feature table and has no recipe to cut flashes with"},
    {"stream_recording_missing", [] { return CausalModel(); }, "stream bad.xml --replay none.vhdr", kExitData, "none.vhdr: cannot open"},
    {"stream_recording_at_another_rate", [] { return Replace(RecipeModel("FilterOrder=\"4\"", "FilterOrder=\"4\" Filter=\"causal\" Resample=\"250\""), "SamplingRate=\"256\"", "SamplingRate=\"250\""); }, "stream bad.xml --replay run.vhdr", kExitData, "run.vhdr: sampled at 256 Hz; the model's recipe resamples recordings to 250 Hz, which korva stream does not do as samples arrive"},
    {"stream_without_samples", nullptr, "stream recipe.xml", kExitUsage, "give the samples to stream: --replay RECORDING, --source - for headset CSV text on standard input, or --source ft://HOST:PORT for a FieldTrip buffer"},
    {"stream_source_elsewhere", nullptr, "stream recipe.xml --source tcp://localhost:1972", kExitUsage, "--source tcp://localhost:1972: give - (headset CSV text on standard input) or ft://HOST:PORT (a FieldTrip buffer)"},
    {"stream_buffer_address_bad", nullptr, "stream recipe.xml --source ft://localhost", kExitUsage, "--source ft://localhost: a buffer is named ft://HOST:PORT (port 1 to 65535)"},
    {"stream_buffer_option_elsewhere", nullptr, "stream recipe.xml --replay run.vhdr --idle-timeout 3", kExitUsage, "--idle-timeout is for a FieldTrip buffer: give --source ft://HOST:PORT"},
    {"stream_buffer_unreachable", [] { return CausalModel(); }, "stream bad.xml --source ft://127.0.0.1:1", kExitData, "ft://127.0.0.1:1: cannot connect: Connection refused (is a buffer server running there?)"},
    {"stream_buffer_without_header", [] { return CausalModel(); }, "stream bad.xml " KORVA_AT_BUFFER, kExitData, "the buffer holds no header (GET_ERR): no acquisition writes to it", "", KORVA_BUFFER("--fail noheader")},
    {"stream_buffer_lacks_channels", [] { std::string m = CausalModel(); for (size_t at; (at = m.find("Cz")) != std::string::npos;) m.replace(at, 2, "C3"); return m; }, "stream bad.xml " KORVA_AT_BUFFER, kExitData, ": no channel C3 among the samples' channels", "", KORVA_BUFFER("")},
    {"stream_buffer_goes_away", [] { return CausalModel(); }, "stream bad.xml " KORVA_AT_BUFFER, kExitData, ": the buffer went away before the reply to", "", KORVA_BUFFER("--fail close@300")},
    {"stream_buffer_short_packet", [] { return CausalModel(); }, "stream bad.xml " KORVA_AT_BUFFER, kExitData, ": the buffer went away in the middle of the reply to GET_DAT (12 of 100 bytes came)", "", KORVA_BUFFER("--fail short@300")},
    {"stream_buffer_garbage", [] { return CausalModel(); }, "stream bad.xml " KORVA_AT_BUFFER, kExitData, "a message of protocol version 16711, not 1 (is this a FieldTrip buffer?)", "", KORVA_BUFFER("--fail garbage@300")},
    {"stream_buffer_refuses_samples", [] { return CausalModel(); }, "stream bad.xml " KORVA_AT_BUFFER, kExitData, ": the buffer refused samples 288 to 319 (GET_ERR)", "", KORVA_BUFFER("--fail err@300")},
    {"stream_buffer_silent", [] { return CausalModel(); }, "stream bad.xml " KORVA_AT_BUFFER " --timeout 0.5", kExitData, ": no reply to GET_HDR within 500 ms (0 of 8 bytes came)", "", KORVA_BUFFER("--fail silent --lifetime 3")},
    {"stream_replay_and_source", nullptr, "stream recipe.xml --replay run.vhdr --source -", kExitUsage, "--replay excludes --source"},
    {"stream_row_not_a_number", [] { return CausalModel(); }, "stream bad.xml --source - < rows.csv", kExitData, "standard input: line 4, column \"Cz\": \"x\" is not a number", "", "printf '%% live\\nFz,Cz,Pz,Oz,Marker\\n1,2,3,4,0\\n1,x,3,4,0\\n' > rows.csv"},
    {"stream_row_ragged", [] { return CausalModel(); }, "stream bad.xml --source - < rows.csv", kExitData, "standard input: line 3 has 3 fields, the header 5", "", "printf 'Fz,Cz,Pz,Oz,Marker\\n1,2,3,4,0\\n1,2,3\\n' > rows.csv"},
    {"stream_channels_alike", [] { return CausalModel(); }, "stream bad.xml --source - < rows.csv", kExitData, "standard input: channels 1 and 2 are both named \"Fz\": a recipe could not tell them apart", "", "printf 'Fz,Fz,Pz,Oz,Marker\\n1,2,3,4,0\\n' > rows.csv"},
    {"stream_speller_layout_misfit", [] { return CausalModel(true); }, "stream bad.xml --replay run.vhdr --layout 1x2 --selection-flashes 3", kExitData, "selection 1 of run.vhdr: code 2 is flashed 0 times and code 1 3 times: every code of a selection must be flashed as often"},
    {"stream_speller_selections_unsaid", [] { return CausalModel(true); }, "stream bad.xml --replay run.vhdr --layout 6x6", kExitUsage, "say where the selections of run.vhdr start: --selection-events EVENTS"},
    {"stream_speller_marker_is_a_code", [] { return CausalModel(); }, "stream bad.xml --replay run.vhdr --layout 6x6 --selection-flashes 12", kExitUsage, "--target-events 2 is code 2 of the layout, whose events are flashes"},
    {"stream_speller_flashes_not_rounds", [] { return CausalModel(true); }, "stream bad.xml --replay run.vhdr --layout 6x6 --selection-flashes 50", kExitUsage, "--selection-flashes 50 is not a whole number of rounds of the 12 codes of the 6x6 matrix"},
    {"stream_speller_stimulus_events", [] { return CausalModel(true); }, "stream bad.xml --replay run.vhdr --layout 6x6 --selection-flashes 12 --stimulus-events 1", kExitUsage, "--stimulus-events: with a speller layout the flashes are the events of its codes"},
    {"stream_speller_target_text_short", [] { return CausalModel(true); }, "stream bad.xml --replay run.vhdr --layout l.txt --selection-flashes 2 --target-text AB --chunk 1000", kExitUsage, "--target-text has 2 symbols, and selection 3 of run.vhdr has begun", "", "printf 'code,items\\n1,A\\n2,B\\n' > l.txt"},
    {"stream_stop_without_layout", [] { return CausalModel(); }, "stream bad.xml --replay run.vhdr --stop-at 0.9", kExitUsage, "--stop-at stops the selections of a speller session: give its --layout too"},
    {"stream_stop_without_class_scores", [] { return Replace(CausalModel(true), "<ClassScores", "<Unused"); }, "stream bad.xml --replay run.vhdr --layout 6x6 --selection-flashes 12 --stop-at 0.9", kExitModel, "model bad.xml carries no training scores (no ClassScores element), from which --stop-at makes the flashes' likelihoods"},
    {"stream_filter_unknown", nullptr, "train run.vhdr --target-events 2 --nontarget-events 1 --filter forward --model m.xml", kExitUsage, "--filter: forward not in {zero-phase,causal}"},
    {"stimulus_events_matching_none", nullptr, "score recipe.xml run.csv --stimulus-events 9", kExitData, "run.csv: no event matches the stimulus list (9)"},
    {"stimulus_events_for_a_table", nullptr, "score model.xml test.csv --stimulus-events 9", kExitUsage, "--stimulus-events cuts recordings into epochs, and test.csv is a feature table"},
    {"training_recording_without_targets", nullptr, "train run.vhdr --target-events 9 --nontarget-events 1 --model m.xml", kExitData, "run.vhdr: no event matches the target list (9)"},
    {"speller_layout_malformed", nullptr, "spell model.xml speller.csv --layout 0x6", kExitUsage, "--layout 0x6: a matrix has 1 to 100 rows and columns"},
    {"speller_layout_unreadable", nullptr, "spell model.xml speller.csv --layout six", kExitData, "--layout six: neither ROWSxCOLS (such as 6x6) nor a layout table that can be read"},
    {"speller_layout_blank_symbol", [] { return std::string("code,items\n1,AB\n2,B C\n3,AC\n"); }, "spell model.xml speller.csv --layout bad.txt", kExitData, "bad.txt, line 3: a blank is not a symbol of a layout table"},
    {"speller_layout_items_alike", [] { return std::string("code,items\n1,AB\n2,ABC\n"); }, "spell model.xml speller.csv --layout bad.txt", kExitData, "bad.txt: A and B are lit by the same codes, so no flash tells them apart"},
    {"speller_symbols_too_few", nullptr, "spell model.xml speller.csv --layout 7x7", kExitUsage, "the 7x7 matrix has 49 items but 36 symbols are given by default; give them with --symbols"},
    {"speller_target_symbol_unknown", nullptr, "spell model.xml speller.csv --layout 6x6 --target-text AB~DEFGHIJ", kExitUsage, "--target-text: symbol 3, ~, is not in the layout"},
    {"speller_target_text_short", nullptr, "spell model.xml speller.csv --layout 6x6 --target-text ABC", kExitUsage, "--target-text has 3 symbols for 10 selections"},
    {"speller_selection_missing_a_code", [] { return SpellerTable(true); }, "spell model.xml bad.csv --layout 6x6", kExitData, "selection 10 of bad.csv: code 12 is flashed once and code 1 2 times"},
    {"speller_stop_level_above_one", nullptr, "spell model.xml speller.csv --layout 6x6 --stop-at 1.5", kExitUsage, "--stop-at 1.5: the level is a posterior probability, above 0 and at most 1"},
    {"speller_stop_without_class_scores", [] { return OneFeatureModel("", ""); }, "spell bad.xml speller.csv --layout 6x6 --stop-at 0.9", kExitModel, "model bad.xml carries no training scores (no ClassScores element), from which --stop-at makes the flashes' likelihoods"},
    {"speller_model_without_layout", nullptr, "spell model.xml speller.csv", kExitUsage, "model model.xml keeps no speller layout (it was not trained on a speller session): give --layout"},
    {"speller_selection_events_of_a_table", nullptr, "spell model.xml speller.csv --layout 6x6 --selection-events 100", kExitUsage, "--selection-events and --selection-flashes delimit the selections of recordings"},
    {"speller_options_without_layout", nullptr, "train speller.csv --target-text AB --model m.xml", kExitUsage, "--target-text describes a speller session: give its --layout too"},
    {"speller_training_without_targets", nullptr, "train speller.csv --layout 6x6 --drop label --model m.xml", kExitUsage, "the target of selection 1 of speller.csv is not known, and training needs every flash's label"},
    {"speller_marker_is_a_code", nullptr, "train run.vhdr --layout 6x6 --selection-events 2 --model m.xml", kExitUsage, "--selection-events 2 is code 2 of the layout, whose events are flashes"},
    {"speller_evaluate_blocks", nullptr, "evaluate speller.csv --layout 6x6 --blocks", kExitUsage, "--test, --seed and --blocks do not apply with --layout"},
    {"speller_generated_as_a_table", nullptr, "generate --speller --output s.csv", kExitUsage, "--speller writes a recording: give --output NAME.vhdr"},
    {"data_few_rows_many_columns", FourRowsOf16000Columns, "train bad.csv --model m.xml", kExitData, "1.9 GiB of it for the 16001 x 16001 cross-product of the features"},
    // Recordings as they come from headsets.
    {"headset_csv_at_another_rate", [] { return RecipeModel("SamplingRate=\"256\"", "SamplingRate=\"250\""); }, "score bad.xml run.csv", kExitData, "run.csv: sampled at 256 Hz by its time column (give or take 0.051), where the recipe was made at 250 Hz; --sampling-rate 250 reads it at the recipe's rate"},
    {"headset_csv_given_another_rate", nullptr, "score recipe.xml run.csv --sampling-rate 250", kExitData, "run.csv: sampled at 250 Hz as the sampling rate given says, where the recipe was made at 256 Hz; --sampling-rate 256 reads it at the recipe's rate"},
    {"headset_csv_marker_column_past_the_header", [] { return Replace(Korva::HeadsetCsv(), ",Marker\n", ",\n"); }, "epochs bad.csv --marker-column '#9' --target-events 2 --nontarget-events 1 --output e.csv", kExitData, "bad.csv: no column 9 (the header has 6) (columns: Timestamp, Fz, Cz, Pz, Oz, )"},
    {"headset_csv_rows_running_backwards", [] { return Korva::HeadsetCsv(3000); }, "epochs bad.csv --target-events 2 --nontarget-events 1 --output e.csv", kExitData, "bad.csv: the rows run backwards: row 3014 is stamped"},
    // Recordings: every file a header names is an input, read from the header's folder only.
    {"recording_output_overwrites_its_samples", nullptr, "epochs run.vhdr --target 2 --non-target 1 --output run.eeg", kExitUsage, "--output and RECORDING (read by run.vhdr) name the same file (run.eeg); an output would overwrite it"},
    {"recording_model_overwrites_its_markers", nullptr, "train run.vhdr --target 2 --non-target 1 --model run.vmrk --report run.eeg", kExitUsage, "--model and DATA (read by run.vhdr) name the same file (run.vmrk)"},
    {"recording_hard_link_given_too", nullptr, "evaluate run.vhdr link.vhdr --target 2 --non-target 1", kExitUsage, "run.vhdr and link.vhdr are one file: one recording given twice would be used twice", "", "ln run.vhdr link.vhdr"},
    {"recording_given_as_dot_slash_too", nullptr, "evaluate run.vhdr ./run.vhdr --target 2 --non-target 1", kExitUsage, "run.vhdr and ./run.vhdr are one file"},
    {"recording_second_header_same_samples", [] { return Korva::Shared("run.vhdr"); }, "evaluate run.vhdr bad.vhdr --target 2 --non-target 1", kExitUsage, "run.vhdr and bad.vhdr both read run.eeg: one recording given twice would be used twice"},
    {"recording_data_file_absolute", [] { return RecordingHeader("DataFile=run.eeg", "DataFile=/etc/passwd"); }, "epochs bad.vhdr --target 2 --non-target 1 --output o.csv", kExitData, "bad.vhdr: its data file /etc/passwd, read as passwd in its folder: cannot open: No such file or directory"},
    {"recording_data_file_above", [] { return RecordingHeader("DataFile=run.eeg", "DataFile=../secret.bin"); }, "epochs bad.vhdr --target 2 --non-target 1 --output o.csv", kExitData, "its data file ../secret.bin, read as secret.bin in its folder: cannot open"},
    {"recording_data_file_a_link", [] { return RecordingHeader("DataFile=run.eeg", "DataFile=secret.eeg"); }, "epochs bad.vhdr --target 2 --non-target 1 --output o.csv", kExitData, "its data file secret.eeg: a symbolic link, which is not followed here", "", "ln -s /etc/passwd secret.eeg"},
    {"recording_marker_file_a_fifo", [] { return RecordingHeader("MarkerFile=run.vmrk", "MarkerFile=fifo.vmrk"); }, "epochs bad.vhdr --target 2 --non-target 1 --output o.csv", kExitData, "its marker file fifo.vmrk: not a regular file but a FIFO", "", "mkfifo fifo.vmrk"},
    {"recording_nan_sample", [] { return RecordingHeader("DataFile=run.eeg", "DataFile=nan.eeg"); }, "epochs bad.vhdr --target 2 --non-target 1 --output o.csv", kExitData, "bad.vhdr: channel 2 (Cz): sample 251 of 5120 (at 0.977 s) is NaN; every sample must be a finite number", "", "cp run.eeg nan.eeg && printf '\\000\\000\\300\\177' | dd of=nan.eeg bs=1 seek=4004 conv=notrunc 2>/dev/null"},
    {"recording_nan_sample_to_train", [] { return RecordingHeader("DataFile=run.eeg", "DataFile=nan.eeg"); }, "train bad.vhdr --target 2 --non-target 1 --model m.xml", kExitData, "channel 2 (Cz): sample 251 of 5120", "", "cp run.eeg nan.eeg && printf '\\000\\000\\300\\177' | dd of=nan.eeg bs=1 seek=4004 conv=notrunc 2>/dev/null"},
    {"recording_nan_sample_to_score", [] { return RecordingHeader("DataFile=run.eeg", "DataFile=nan.eeg"); }, "score recipe.xml bad.vhdr", kExitData, "channel 2 (Cz): sample 251 of 5120", "", "cp run.eeg nan.eeg && printf '\\000\\000\\300\\177' | dd of=nan.eeg bs=1 seek=4004 conv=notrunc 2>/dev/null"},
    {"recording_resolution_overflows", [] { return RecordingHeader("Ch1=Fz,,1,", "Ch1=Fz,,1e308,"); }, "epochs bad.vhdr --target 2 --non-target 1 --output o.csv", kExitData, "bad.vhdr: Ch1: resolution 1e308 makes its samples overflow (they would not be finite numbers)"},
    {"recording_rate_absurd", [] { return RecordingHeader("SamplingInterval=3906.25", "SamplingInterval=1e-300"); }, "epochs bad.vhdr --target 2 --non-target 1 --output o.csv", kExitData, "bad.vhdr: SamplingInterval=1e-300 (microseconds) gives a sampling rate of 1e+306 Hz, outside the 0.001 Hz to 1e+06 Hz korva reads"},
    {"recording_channels_alike", [] { return RecordingHeader("Ch2=Cz", "Ch2=Fz"); }, "epochs bad.vhdr --target 2 --non-target 1 --output o.csv", kExitData, "bad.vhdr: channels 1 and 2 are both named \"Fz\": a recipe could not tell them apart"},
    {"recording_channel_key_twice", [] { return RecordingHeader("Ch2=Cz,,1,\xC2\xB5V\n", "Ch2=Cz,,1,\xC2\xB5V\nCh2=Pz,,1,\xC2\xB5V\n"); }, "epochs bad.vhdr --target 2 --non-target 1 --output o.csv", kExitData, "bad.vhdr: [Channel Infos] gives Ch2 twice"},
    {"recording_channel_without_a_name", [] { return RecordingHeader("Ch2=Cz", "Ch2="); }, "epochs bad.vhdr --target 2 --non-target 1 --output o.csv", kExitData, "bad.vhdr: channel 2 has no name"},
    {"recording_channel_name_with_a_line_end", [] { return RecordingHeader("Ch2=Cz", "Ch2=C\rz"); }, "epochs bad.vhdr --target 2 --non-target 1 --output o.csv", kExitData, "bad.vhdr: channel 2 has a control character (U+000D) in its name"},
    {"recording_channel_name_with_a_nul", [] { return RecordingHeader("Ch2=Cz", std::string("Ch2=C\0z", 7)); }, "epochs bad.vhdr --target 2 --non-target 1 --output o.csv", kExitData, "is a NUL: binary data, not the text of a BrainVision header"},
    {"recording_channels_too_many_to_list", [] { return WideHeader(30, "wide.eeg"); }, "epochs bad.vhdr --target 2 --non-target 1 --channels O1 --output o.csv", kExitData, "bad.vhdr: no channel O1 (its channels: c1, c2, c3, c4, c5, c6, c7, c8, c9, c10, c11, c12, c13, c14, c15, c16, c17, c18, c19, c20 and 10 more)", "", "head -c 307200 /dev/zero > wide.eeg"},
    {"recording_cut_above_memory_limit", nullptr, "epochs run.vhdr --target 2 --non-target 1 --output o.csv --memory-limit 100K", kExitData, "cutting run.vhdr into 73 epochs of 80 features (reading channels of 5120 samples) needs about"},
    {"recording_sparse_gigabyte", [] { return WideHeader(1, "big.eeg"); }, "epochs bad.vhdr --target 2 --non-target 1 --output o.csv", kExitData, "(reading channels of 536870912 samples) needs about 4.0 GiB of memory, more than the", "", "truncate -s 1G big.eeg"},
    {"headset_csv_then_nul_bytes", [] { return HeadsetCsv() + std::string(4096, '\0'); }, "epochs bad.csv --target 2 --non-target 1 --output o.csv", kExitData, "bad.csv, line 2002: a NUL byte: this is binary data, not CSV text"},
    {"headset_csv_utf16", [] { return Utf16(HeadsetCsv()); }, "epochs bad.csv --target 2 --non-target 1 --output o.csv", kExitData, "bad.csv: the file is UTF-16 text; save it as UTF-8 (or ASCII) CSV"},
    {"headset_csv_carriage_returns", [] { std::string t = HeadsetCsv(); std::replace(t.begin(), t.end(), '\n', '\r'); return t; }, "epochs bad.csv --target 2 --non-target 1 --output o.csv", kExitData, "bad.csv: its lines end in a carriage return alone; save it with LF or CRLF line ends"},
    {"recording_given_a_sampling_rate", nullptr, "epochs run.vhdr --target 2 --non-target 1 --output o.csv --sampling-rate 500", kExitUsage, "run.vhdr is read as BrainVision, which gives its own sampling rate and markers"},
    {"sampling_rate_negative", nullptr, "epochs run.vhdr --target 2 --non-target 1 --output o.csv --sampling-rate -5", kExitUsage, "--sampling-rate: must be a rate in Hz from 0.001 to 1e+06 (-5)"},
    {"window_start_far_before", nullptr, "epochs run.vhdr --target 2 --non-target 1 --output o.csv --window=-1e300,0", kExitUsage, "window -1e+300 to 0 ms: its ends must lie within 1e+07 ms of the event"},
    {"window_far_after", nullptr, "epochs run.vhdr --target 2 --non-target 1 --output o.csv --window=1e15,1e300", kExitUsage, "window 1e+15 to 1e+300 ms: its ends must lie within"},
    {"window_far_before_auto", nullptr, "train run.vhdr --target 2 --non-target 1 --model m.xml --window=-1e300,auto", kExitUsage, "window -1e+300 to 800 ms: its ends must lie within"},
    {"baseline_far_before", nullptr, "train run.vhdr --target 2 --non-target 1 --model m.xml --baseline=-1e300,0", kExitUsage, "baseline -1e+300 to 0 ms: its ends must lie within"},
    {"recipe_document_window_far", [] { return RecipeModel("Window=\"0,auto\"", "Window=\"-1e300,0\""); }, "info bad.xml", kExitModel, "model bad.xml: its recipe: window -1e+300 to 0 ms: its ends must lie within"},
    {"recipe_document_nul_reference", [] { return RecipeModel("Name=\"Cz\"", "Name=\"C&#0;z\""); }, "info bad.xml", kExitModel, "is a character reference to NUL, which XML allows nowhere (a name would end there)"},
    {"tune_worker_killed", nullptr, "tune train.csv --jobs 2 --model m.xml", kExitTrainingFailed, "the fold gave no result: its worker process was ended by signal 9 (Killed)", KORVA_SHIM "KORVA_KILL_FORK=2 "},
    {"evaluate_tune_worker_killed", nullptr, "evaluate train.csv --tune --jobs 2", kExitTrainingFailed, "tuning in fold 1: fold 2, p-enter 0.01, p-remove 0.05, max-iter 300: the fold gave no result: its worker process was ended by signal 9 (Killed)", KORVA_SHIM "KORVA_KILL_FORK=2 "},
};
// clang-format on

class KorvaFailure : public Korva,
                     public ::testing::WithParamInterface<Failure> {};

// The command ends with its status and one "korva: error:" line, and writes
// nothing new.
TEST_P(KorvaFailure, EndsWithItsStatusAndWritesNothing) {
  const Failure& f = GetParam();
  PutShared();
  PutSharedRecording();
  Put("speller.csv", SpellerTable());
  const std::string command = f.command;
  const size_t bad = command.find("bad.");
  if (f.file) Put(command.substr(bad, command.find(' ', bad) - bad), f.file());
  if (*f.setup) {
    ASSERT_EQ(Shell(dir_.Path(), f.setup).status, 0) << f.setup;
  }
  const std::vector<std::string> before = Here();
  const Result r =
      Run(command,
          std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") +
              f.env);
  EXPECT_EQ(r.status, f.status) << r.err;
  EXPECT_THAT(r.err, HasSubstr(f.message));
  EXPECT_THAT(r.err, HasSubstr("korva: error: "));
  EXPECT_EQ(Here(), before);
}

INSTANTIATE_TEST_SUITE_P(Statuses,
                         KorvaFailure,
                         ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return info.param.name; });

// The decisions of the two threshold modes on a hand-made set whose scores
// are its one feature: rows x = 2, 0.7, -0.5 are targets, 0.3, -0.2, -2 not;
// the class means -1 and 3 place Range mode's cut at -1 + 4 T.
TEST_F(Korva, ThresholdModesDecideAboveTheirCut) {
  Put("x.csv", "label,x\n1,2\n1,0.7\n1,-0.5\n-1,0.3\n-1,-0.2\n-1,-2\n");
  const struct {
    const char* configuration;
    double cut;
    std::vector<int> confusion;  // TP, FN, FP, TN
  } cases[] = {{"Threshold=\"0\" ThresholdMode=\"0\"", 0.0, {2, 1, 1, 2}},
               {"Threshold=\"1\" ThresholdMode=\"0\"", 1.0, {1, 2, 0, 3}},
               {"Threshold=\"0.1\" ThresholdMode=\"1\"", -0.6, {3, 0, 2, 1}},
               {"Threshold=\"0.5\" ThresholdMode=\"1\"", 1.0, {1, 2, 0, 3}}};
  for (const auto& c : cases) {
    Put("m.xml", OneFeatureModel(c.configuration));
    const Result r = Run("score m.xml x.csv --output s.csv --summary -");
    ASSERT_EQ(r.status, kExitOk) << r.err;
    const auto metrics = nlohmann::json::parse(r.out)["metrics"];
    EXPECT_DOUBLE_EQ(metrics["cut"].get<double>(), c.cut) << c.configuration;
    const auto& m = metrics["confusion"];
    EXPECT_EQ(std::vector<int>({m["tp"], m["fn"], m["fp"], m["tn"]}),
              c.confusion)
        << c.configuration;
  }
  // A threshold whose percentage would overflow is said as a factor.
  Put("m.xml", OneFeatureModel("Threshold=\"1e308\" ThresholdMode=\"1\""));
  EXPECT_THAT(Run("info m.xml").out,
              HasSubstr("(Range, threshold 1e+308 times the way from"));
  Put("m.xml", OneFeatureModel("Threshold=\"0.5\" ThresholdMode=\"1\"", ""));
  const Result refused = Run("score m.xml x.csv --output s2.csv");
  EXPECT_EQ(refused.status, kExitModel);
  EXPECT_THAT(refused.err,
              HasSubstr("m.xml decides in Range mode, between the training "
                        "classes' mean scores, but does not carry them"));
  EXPECT_FALSE(fs::exists(dir_ / "s2.csv"));
  // A threshold chosen for balanced accuracy is kept in the model and
  // decides its scores.
  PutShared();
  const Result balanced =
      Run("train train.csv --model b.xml --threshold balanced --summary -");
  ASSERT_EQ(balanced.status, kExitOk) << balanced.err;
  const auto trained = nlohmann::json::parse(balanced.out);
  const double cut = trained["parameters"]["threshold"];
  EXPECT_NE(cut, 0.0);
  EXPECT_EQ(trained["metrics"]["training_set"]["cut"], cut);
  const auto scored = nlohmann::json::parse(
      Run("score b.xml test.csv --output s.csv --summary -").out);
  EXPECT_EQ(scored["metrics"]["cut"], cut);
}

// A speller table scored as plain flashes: its selection and code columns
// are left out of the features, and the user is told so.
TEST_F(Korva, SpellerColumnsAreNeverFeaturesAndSaySo) {
  PutShared();
  Put("speller.csv", SpellerTable());
  const Result r = Run("score model.xml speller.csv --output s.csv");
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_THAT(r.err,
              HasSubstr("speller.csv: the code and selection columns number a "
                        "speller session's flashes and selections and are "
                        "never features"));
}

// A set that trains to nothing still saves its model, which cannot score.
TEST_F(Korva, EmptySelectionSavesAModelThatCannotScore) {
  PutShared();
  const Result r = Run("train train.csv --model m.xml --max-iter 0");
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_THAT(r.err,
              HasSubstr("no feature was selected, so the model cannot "
                        "classify; --max-iter 0 allows no change of the "
                        "selection"));
  EXPECT_EQ(Run("score m.xml test.csv").status, kExitModel);
}

// Exactly one feature enters: a = 2 y + d / 8, with y, d, b and c Walsh
// sequences of period 8 (orthogonal, mean 0), so b and c explain nothing
// and the least-squares weight of a is 2 / (4 + 1 / 64) = 0.498054 by hand,
// the intercept 0 (every sum is exact); the class scores are +-2 w, spread
// w / 8 sqrt(40 / 38).
TEST_F(Korva, TrainSaysAndWritesOneSelectedFeature) {
  auto walsh = [](int k, int i) { return __builtin_parity(k & i) ? -1 : 1; };
  std::string csv = "label,a,b,c\n";
  for (int i = 0; i < 40; ++i) {
    const int y = -walsh(1, i % 8);
    csv += std::to_string(y) + "," + Text::FormatDouble(2 * y + 0.125 * walsh(2, i % 8)) +
           "," + std::to_string(walsh(4, i % 8)) + "," +
           std::to_string(walsh(6, i % 8)) + "\n";
  }
  Put("one.csv", csv);
  const Result r = Run(
      "train one.csv --model m.xml --weights w.txt --weights-csv w.csv "
      "--report r.html");
  ASSERT_EQ(r.status, kExitOk) << r.err;
  for (const char* said :
       {"Final columns included:  1 (1 features)\nSelected 1 features:\n"
        "(a):   0.498054\n",
        "selected 1 of 3 features in ",
        "(TP 20, FN 0, FP 0, TN 20; majority baseline 0.500)"})
    EXPECT_THAT(r.out, HasSubstr(said));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Get("w.csv"), "name,weight\na,0.498054\nb,0\nc,0\n(intercept),0\n");
  EXPECT_EQ(Get("w.txt"), "0.498054\n0\n0\n0");
  const Result info = Run("info m.xml");
  EXPECT_EQ(info.err, "") << "every weight is there: nothing to warn of";
  EXPECT_THAT(info.out,
              HasSubstr("  a  0.498054\nintercept: 0 (kept by korva in the "
                        "document; scores add it)\ntraining scores: mean "
                        "-0.996109 of 20 rows labelled -1, mean 0.996109 of 20 "
                        "labelled +1, pooled standard deviation 0.0638741\n"));
  EXPECT_EQ(Count(Get("r.html"), "y=\"22.0\" width=\"150.0\""), 1)
      << "one weight bar, as long as the scale";
}

// Each exit status is the number the command-line docs give for its kind:
// scripts and hosts test for the numbers.
TEST(ExitStatus, IsTheNumberTheDocsGive) {
  const std::string docs = ReadFile(KORVA_SOURCE_DIR "/docs/cli.md");
  const std::pair<int, const char*> kinds[] = {
      {kExitOk, "success"},
      {kExitUsage, "bad command line"},
      {kExitData, "input data missing"},
      {kExitModule, "module cannot be used"},
      {kExitModel, "model document unusable"},
      {kExitTrainingFailed, "training returned a non-zero result"},
      {kExitTrainingException, "training raised an exception"},
      {kExitOutput, "an output file cannot be written"},
      {kExitNoDisplay, "`edit` without a display"}};
  for (const auto& [code, kind] : kinds)
    EXPECT_THAT(docs, HasSubstr("\n| " + std::to_string(code) + " | " + kind)) << kind;
}

// Too few rows: training fails (6), the log says why, earlier outputs stay.
// An exception inside training (7) is caught and named, for either kind.
TEST_F(Korva, FailedTrainingKeepsEarlierOutputsAndWritesTheLog) {
  Put("tiny.csv", FirstRows(Shared("test.csv"), 5, [](int r) {
        return r % 2 ? "1" : "-1";
      }));
  for (const char* name : {"m.xml", "w.txt", "r.html"}) Put(name, name);
  Result r =
      Run("train tiny.csv --model m.xml --weights w.txt --report r.html "
          "--log-json log.json");
  EXPECT_EQ(r.status, kExitTrainingFailed);
  EXPECT_THAT(r.err,
              HasSubstr("classifier returned status -10 (too few examples"));
  for (const char* name : {"m.xml", "w.txt", "r.html"})
    EXPECT_EQ(Get(name), name);
  auto log = nlohmann::json::parse(Get("log.json"));
  EXPECT_EQ(log["result"], -10);
  EXPECT_EQ(log["progress"].back(), "*************");

  for (const auto& [kind, start, end] :
       {std::tuple{
            "newmat", "exception: matrix library: ", "planted matrix failure"},
        std::tuple{"std", "exception: planted failure", "planted failure"}}) {
    r = Run("train tiny.csv --model n.xml --log-json log.json --module " +
                Quote(KORVA_THROWING_MODULE),
            std::string("KORVA_TEST_THROW=") + kind + " ");
    EXPECT_EQ(r.status, kExitTrainingException) << kind;
    EXPECT_THAT(r.err, HasSubstr(start));
    EXPECT_THAT(r.err, HasSubstr(std::string(end) + "; no model written"));
    log = nlohmann::json::parse(Get("log.json"));
    EXPECT_TRUE(log["result"].is_null());
    EXPECT_EQ(log["progress"],
              nlohmann::json::array({"Step 1, about to fail"}));
  }
  EXPECT_FALSE(fs::exists(dir_ / "n.xml"));
}

// Killing korva ends the worker processes of its folds too (the loop waits
// for both: the second may start a moment after the first).
TEST_F(Korva, EvaluateWorkersEndWithKorva) {
  PutShared();
  const Result r =
      Shell(dir_.Path(),
            "KORVA_TEST_THROW=sleep " + Program(KORVA_BINARY) +
                " evaluate train.csv --jobs 2 --module " +
                Quote(KORVA_THROWING_MODULE) +
                " & k=$!; for i in $(seq 100); do w=$(pgrep -P $k); "
                "[ $(echo $w | wc -w) -ge 2 ] && break; sleep 0.1; done; "
                "kill -9 $k; sleep 1; echo workers $w; "
                "ps -o stat= -p \"$(echo $w | tr ' ' ,)\" | grep -v Z");
  // A zombie has ended; it only waits for init to collect it.
  EXPECT_THAT(r.out, ::testing::ContainsRegex("\nworkers [0-9]+ [0-9]+\n$"));
}

// Every file a recording reads is an input with its own SHA-256 in the
// summary. Texts from the files reach the terminal cleaned: a marker text
// with an escape sequence is counted as skipped with U+FFFD for the escape.
TEST_F(Korva, RecordingFilesAreDigestedAndTheirTextsCleaned) {
  PutSharedRecording();
  const Result r = Run(
      "train run.vhdr --target 2 --non-target 1 --model m.xml --summary -");
  ASSERT_EQ(r.status, kExitOk) << r.err;
  const auto inputs = nlohmann::json::parse(r.out)["provenance"]["inputs"];
  ASSERT_EQ(inputs.size(), 3u);
  EXPECT_EQ(inputs[2]["role"], "DATA (read by run.vhdr)");
  for (const auto& input : inputs) {
    const std::string file = input["file"];
    EXPECT_EQ(input["sha256"].get<std::string>() + "\n",
              Shell(dir_.Path(), "sha256sum " + file + " | cut -c1-64").out)
        << file;
  }
  Put("run.vmrk", Get("run.vmrk") + "Mk999=Comment,\x1b[2J,7,1,0\n");
  const Result cut =
      Run("epochs run.vhdr --target 2 --non-target 1 --output e.csv");
  ASSERT_EQ(cut.status, kExitOk) << cut.err;
  EXPECT_THAT(cut.out, HasSubstr("\"Comment/\xEF\xBF\xBD[2J\" 1"));
  EXPECT_THAT(cut.out, Not(HasSubstr("\x1b")));
}

// An EDF+D recording of six 1 s records at 256 Hz with a gap of 7 s after
// the third: the non-target event at 2.9 s runs across the gap with the
// default window (781.25 ms) and is dropped, counted; the one at 7 s lies
// in the gap, left out with a note.
TEST_F(Korva, EpochsOfAnEdfPlusDStopAtItsGap) {
  using namespace std::string_literals;
  Put("run.edf", EdfPlusD({"+0\x14\x14\0+0.5\x14" "2\x14"s, "+1\x14\x14\0+1\x14" "1\x14\0+1.5\x14" "2\x14"s,
                           "+2\x14\x14\0+2.9\x14" "1\x14\0+7\x14" "1\x14"s, "+10\x14\x14\0+10.5\x14" "2\x14"s,
                           "+11\x14\x14\0+11.2\x14" "1\x14"s, "+12\x14\x14"},
                          256, [](long long k) { return static_cast<int>(3000 * std::sin(0.3 * k)); }));
  const Result r = Run("epochs run.edf --target 2 --non-target 1 --output e.csv");
  ASSERT_EQ(r.status, kExitOk) << r.err;
  EXPECT_THAT(r.out, HasSubstr("3 target and 2 non-target epochs; at breaks 0 target, 1 non-target"));
  EXPECT_THAT(r.out, HasSubstr("1 annotation falls in a gap between records"));
  EXPECT_THAT(r.err, HasSubstr("not continuous at 1 place (the records jump 7 s, from 3 s to 10 s, after record 3)"));
}

// ---- outputs: never half-written, the earlier file kept ---------------------

// A preloaded library makes writes fail with ENOSPC after a byte budget: the
// outputs before the failing one are written (train writes the log, the
// model, the weights, the report in that order), the failing one and those
// after keep their earlier content, and no temporary file is left.
class KorvaFullDisk : public Korva,
                      public ::testing::WithParamInterface<int> {};

TEST_P(KorvaFullDisk, KeepsTheEarlierFileOfTheOutputThatDoesNotFit) {
  const std::vector<std::string> outputs = {
      "log.json", "model.xml", "w.txt", "report.html"};
  const std::string train =
      "train data.csv --log-json log.json --model model.xml --weights w.txt "
      "--report report.html --quiet";
  const int failing = GetParam();
  Put("data.csv", Shared("test.csv"));
  ASSERT_EQ(Run(train).status, kExitOk);
  std::uintmax_t budget = fs::file_size(dir_ / outputs[failing]) / 2;
  for (int i = 0; i < failing; ++i) budget += fs::file_size(dir_ / outputs[i]);
  for (const std::string& name : outputs) Put(name, "earlier");
  // ASan (in sanitizer builds) wants to be first in the library list.
  const Result r = Run(train,
                       "LD_PRELOAD=" + Quote(KORVA_WRITE_FAILURE_SHIM) +
                           " KORVA_WRITE_BUDGET=" + std::to_string(budget) +
                           " ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}"
                           "verify_asan_link_order=0\" ");
  EXPECT_EQ(r.status, kExitOutput) << r.err;
  EXPECT_THAT(r.err,
              HasSubstr("cannot write " + outputs[failing] +
                        ": No space left on device"));
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(Get(outputs[i]) == "earlier", i >= failing) << outputs[i];
  EXPECT_EQ(Here().size(), 5u) << "no temporary file";
}

INSTANTIATE_TEST_SUITE_P(EveryOutput, KorvaFullDisk, ::testing::Range(0, 4));

// A real read-only mount and a real full file system, in a private mount
// namespace (root and unshare needed).
TEST_F(Korva, ReadOnlyAndFullFileSystemsKeepTheEarlierModel) {
  if (Shell(dir_.Path(), "unshare -m true").status != 0)
    GTEST_SKIP() << "no private mount namespace";
  Put("data.csv", Shared("test.csv"));
  fs::create_directories(dir_ / "ro");
  Put("ro/model.xml", "earlier");
  const std::string k = Program(KORVA_BINARY);
  Result r =
      Shell(dir_.Path(),
            "unshare -m sh -c " +
                Quote("mount --bind ro ro && mount -o remount,bind,ro ro && " +
                      k + " train data.csv --model ro/model.xml --quiet"));
  EXPECT_EQ(r.status, kExitOutput);
  EXPECT_THAT(r.err,
              HasSubstr("cannot write ro/model.xml: Read-only file system"));
  EXPECT_EQ(Get("ro/model.xml"), "earlier");

  ASSERT_EQ(
      Run("generate --epochs 300 --channels 32 --samples 40 --output big.csv")
          .status,
      kExitOk);
  fs::create_directories(dir_ / "disk");
  r = Shell(
      dir_.Path(),
      "unshare -m sh -c " + Quote("mount -t tmpfs -o size=64k tmpfs disk && "
                                  "printf earlier > disk/model.xml && "
                                  "head -c 40960 /dev/zero > disk/filler && " +
                                  k +
                                  " train big.csv --model disk/model.xml "
                                  "--quiet; s=$?; cat disk/model.xml; ls disk; "
                                  "exit $s"));
  EXPECT_EQ(r.status, kExitOutput);
  EXPECT_THAT(
      r.err, HasSubstr("cannot write disk/model.xml: No space left on device"));
  EXPECT_EQ(r.out, "earlierfiller\nmodel.xml\n");
}

// An output named by a descriptor (/dev/stdout, /dev/fd/1, /proc/self/fd/1,
// /dev/stderr) is written through it: the shell's file keeps what was there
// before and gets what comes after, and a pipe works. No temporary file.
TEST_F(Korva, OutputsToStandardStreamsGoThroughTheDescriptor) {
  PutShared();
  const std::string k = Program(KORVA_BINARY) + " ";
  const std::string score = k + "score model.xml test.csv --quiet --output ";
  const Result scores = Run("score model.xml test.csv --quiet");
  const Result r = Shell(
      dir_.Path(),
      "echo earlier > log.txt && " + score + "/dev/stdout >> log.txt && ( " +
          "echo before; " + score + "/dev/fd/1; echo after ) > out.txt && " +
          score + "/proc/self/fd/1 | cat > piped.csv && " + k +
          "train train.csv --quiet --model /dev/stderr 2> err.xml");
  ASSERT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(Get("log.txt"), "earlier\n" + scores.out);
  EXPECT_EQ(Get("out.txt"), "before\n" + scores.out + "after\n");
  EXPECT_EQ(Get("piped.csv"), scores.out);
  EXPECT_EQ(Get("err.xml"), Shared("model.xml"));
  EXPECT_EQ(Here().size(), 7u) << "no temporary file";
}

// ---- what each command does
// ---------------------------------------------------

// A restored classifier's scores are the weighted sums of the weight file's
// weights without its last line, the intercept, which the model lacks.
TEST_F(Korva, ScoresAreTheWeightedSumsOfTheWeightFile) {
  PutShared();
  const Result score = Run("score model.xml test.csv");
  ASSERT_EQ(score.status, kExitOk) << score.err;
  EXPECT_GT(PrintedAuc(score.err, "AUC "), kMinAuc) << score.err;
  EXPECT_THAT(score.err, Not(HasSubstr("no intercept")));
  std::istringstream weightFile(Shared("weights.txt"));
  std::vector<double> w;
  for (double v; weightFile >> v;) w.push_back(v);
  const Data::Dataset test = Data::ReadCsv(dir_ / "test.csv");
  const Data::Dataset scores = Data::ParseCsv(score.out, "scores");
  ASSERT_EQ(w.size(), 41u);
  ASSERT_EQ(scores.rows, 240);
  EXPECT_THAT(score.out, StartsWith("row,label,score\n"));
  EXPECT_EQ(scores.labels, test.labels);
  for (int row = 0; row < 240; ++row) {
    // The document keeps the intercept in full, the weight file to six digits.
    double expected = w.back();
    for (int c = 0; c < 40; ++c) expected += w[c] * test.At(row, c);
    EXPECT_EQ(scores.At(row, 0), row + 1);
    EXPECT_NEAR(scores.At(row, 1), expected, 1e-6 * (1 + std::abs(w.back())));
  }
  // The same names in another order are matched by name; other names are
  // refused unless --ignore-names.
  Put("swapped.csv",
      Replace(
          Replace(
              Replace(Shared("test.csv"), "Cz_03", "Tmp"), "Cz_04", "Cz_03"),
          "Tmp",
          "Cz_04"));
  EXPECT_THAT(Run("score model.xml swapped.csv --output s.csv").out,
              HasSubstr("matched by name"));
  EXPECT_NE(Get("s.csv"), score.out);
  Put("renamed.csv", Replace(Shared("test.csv"), "Cz_03", "Xy_03"));
  const Result renamed = Run("score model.xml renamed.csv");
  EXPECT_EQ(renamed.status, kExitData);
  EXPECT_THAT(renamed.err,
              HasSubstr("it lacks \"Cz_03\" and has \"Xy_03\" instead"));
  EXPECT_EQ(
      Run("score model.xml renamed.csv --ignore-names --output s.csv").status,
      kExitOk);
  EXPECT_EQ(Get("s.csv"), score.out);
  Put("short.xml", Replace(Shared("model.xml"), "<Name>Cz_03</Name>", ""));
  EXPECT_THAT(Run("score short.xml test.csv").err,
              HasSubstr("model short.xml holds 39 feature names for its 40 "
                        "features; --ignore-names"));
}

// A session whose targets are not yet known (every flash marked as a
// non-target, or every flash a bare stimulus code named by
// --stimulus-events) is scored as its labelled copy, row by row, with empty
// labels and no metrics.
TEST_F(Korva, AnUnlabelledSessionScoresAsItsLabelledCopy) {
  PutSharedRecording();
  const Result labelled = Run("score recipe.xml run.csv");
  for (const auto& [from, to, options] :
       {std::tuple{",2\n", ",1\n", ""},
        {",[12]\n", ",7\n", " --stimulus-events 7"}}) {
    Put("new.csv",
        std::regex_replace(Get("run.csv"), std::regex(from), std::string(to)));
    const Result unlabelled =
        Run(std::string("score recipe.xml new.csv") + options);
    ASSERT_EQ(unlabelled.status, kExitOk) << unlabelled.err;
    EXPECT_THAT(unlabelled.err, HasSubstr("epochs without labels"));
    EXPECT_THAT(unlabelled.err, Not(HasSubstr("AUC")));
    std::istringstream a(labelled.out), b(unlabelled.out);
    std::string la, lb;
    int rows = 0;
    for (std::getline(a, la), std::getline(b, lb); std::getline(a, la);
         ++rows) {
      ASSERT_TRUE(std::getline(b, lb));
      const size_t row = la.find(','), score = la.rfind(',');
      EXPECT_EQ(lb, la.substr(0, row) + ",new.csv," + la.substr(score));
    }
    EXPECT_GT(rows, 60);
    EXPECT_FALSE(std::getline(b, lb));
  }
}

// The log keeps every message exactly; --quiet prints nothing and logs the
// same; the report holds its four plots.
TEST_F(Korva, TrainLogsReportsAndIsQuietOnRequest) {
  PutShared();
  const std::string train =
      "train train.csv --p-enter 0.1 --p-remove 0.15 --report r.html";
  const Result loud =
      Run(train + " --model a.xml --log-json a.json --weights w.txt");
  const Result quiet = Run(train + " --model b.xml --log-json b.json --quiet");
  ASSERT_EQ(loud.status, kExitOk) << loud.err;
  EXPECT_THAT(loud.out, HasSubstr("\nFinal columns included: "));
  EXPECT_THAT(loud.out, Not(HasSubstr("\r")));
  EXPECT_EQ(quiet.out, "");
  auto a = nlohmann::ordered_json::parse(Get("a.json"));
  std::vector<std::string> keys;
  for (const auto& item : a.items()) keys.push_back(item.key());
  EXPECT_THAT(
      keys,
      ElementsAre(
          "result", "progress", "messages", "short_info", "training_info"));
  EXPECT_EQ(a["short_info"], "DOZOD: Scalar P(0.1, 0.15) | Max Iter. : 300 | ");
  const auto progress = a["progress"].get<std::vector<std::string>>();
  EXPECT_THAT(progress[0], StartsWith("Step 1, add feat "));
  EXPECT_THAT(progress[progress.size() - 2], StartsWith("Selected "));
  EXPECT_EQ(a["messages"].get<std::vector<std::string>>(), progress);
  auto b = nlohmann::ordered_json::parse(Get("b.json"));
  for (auto* log : {&a, &b})  // the elapsed whole seconds may differ
    for (const char* key : {"progress", "messages"})
      (*log)[key].erase((*log)[key].size() - 1);
  EXPECT_EQ(a, b);
  EXPECT_EQ(Get("a.xml"), Get("b.xml"));
  const std::string html = Get("r.html");
  EXPECT_EQ(Count(html, "<svg "), 4) << "ROC, distributions, weights, map";
  EXPECT_GT(PrintedAuc(html, "training set (AUC "), kMinAuc);
}

// Every fold line without its time column, which varies from run to run.
std::vector<std::string> FoldLines(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("fold ", 0) == 0)
      lines.push_back(
          line.substr(0, line.find_last_not_of(' ', line.rfind(' ')) + 1));
  return lines;
}

TEST_F(Korva, EvaluateGivesTheSameFoldsInOneOrTwoProcesses) {
  PutShared();
  const Result one =
      Run("evaluate train.csv --folds 4 --seed 3 --jobs 1 --report one.html");
  const Result two = Run("evaluate train.csv --folds 4 --seed 3 --jobs 2");
  ASSERT_EQ(one.status, kExitOk) << one.err;
  EXPECT_EQ(FoldLines(one.out).size(), 4u);
  EXPECT_EQ(FoldLines(one.out), FoldLines(two.out));
  EXPECT_GT(PrintedAuc(one.out, "overall: AUC "), kMinAuc) << one.out;
  EXPECT_EQ(Count(Get("one.html"), "class=\"roc\""), 4);
  const Result separate =
      Run("evaluate train.csv --test test.csv --p-enter 0.1 --p-remove 0.15");
  ASSERT_EQ(separate.status, kExitOk) << separate.err;
  EXPECT_THAT(separate.out, HasSubstr("test set "));
  EXPECT_THAT(separate.out, HasSubstr("P(0.1, 0.15)"));
  EXPECT_THAT(separate.out, Not(HasSubstr("overall")));

  // Scores that overflow (the first row's) or come out NaN (the second's:
  // +inf - inf) reach the parent exactly from a worker process.
  std::string csv = "label,a,b\n1,1e306,0.001\n-1,1e306,1e306\n";
  for (int r = 2; r < 40; ++r) {
    const double label = r % 2 ? 1 : -1;
    csv += Text::FormatDouble(label) + "," +
           Text::FormatDouble(label * 1e-3 + (r * 37 % 11 - 5) * 1e-4) + "," +
           Text::FormatDouble(-label * 1e-3 + (r * 53 % 7 - 3) * 1e-4) + "\n";
  }
  Put("special.csv", csv);
  for (const char* jobs : {"1", "2"})
    ASSERT_EQ(Run("evaluate special.csv --blocks --folds 4 --quiet "
                  "--oof-scores oof" +
                  std::string(jobs) + ".csv --jobs " + jobs)
                  .status,
              kExitOk);
  EXPECT_THAT(Get("oof1.csv"),
              StartsWith("row,fold,label,score\n1,1,1,inf\n2,1,-1,nan\n"));
  EXPECT_EQ(Get("oof2.csv"), Get("oof1.csv"));
}

TEST_F(Korva, InfoDemoAndHelp) {
  ASSERT_EQ(Run("train " + Quote(*shared_ / "train.csv") +
                " --model m.xml --max-iter 3")
                .status,
            kExitOk);
  const Result info = Run("info m.xml");
  EXPECT_THAT(info.out,
              HasSubstr("DOZOD: Scalar P(0.05, 0.1) | Max Iter. : 3 |"));
  EXPECT_THAT(info.out, HasSubstr("Selected 3 features"));
  // Three names, each on its own indented line, then the intercept.
  EXPECT_THAT(
      info.out,
      ::testing::ContainsRegex("selected features by name:\n(  [^\n]+\n){3}"
                               "intercept: "));
  const Result demo =
      Run("demo --output demo/sub --epochs 240 --channels 4 --samples 10");
  ASSERT_EQ(demo.status, kExitOk) << demo.err;
  EXPECT_THAT(Here("demo/sub"),
              ElementsAre("calibration.csv",
                          "model.xml",
                          "report.html",
                          "test-scores.csv",
                          "test.csv",
                          "training-log.json",
                          "weights.txt"));
  EXPECT_THAT(demo.out, HasSubstr("P(0.1, 0.15)"));
  EXPECT_NE(Get("demo/sub/test.csv"), Get("demo/sub/calibration.csv"));
  EXPECT_GT(PrintedAuc(demo.out, "test set AUC:      "), kMinAuc) << demo.out;
  // Every command korva lists, as its own table gives them; the list an
  // unknown command gets names the same.
  const std::vector<std::string> commands = ListedCommands(Run("help").out);
  std::string list;
  for (const std::string& command : commands)
    list += (list.empty() ? "" : ", ") + command;
  EXPECT_THAT(Run("help nosuch").err, HasSubstr("(commands: " + list + ";"));
  for (const std::string& command : commands) {
    EXPECT_THAT(Run(command + " --help").out, HasSubstr("Usage")) << command;
    EXPECT_THAT(Run("help " + command).out,
                HasSubstr("Usage: korva " + command))
        << command;
    EXPECT_THAT(Run("--generate man").out, HasSubstr(".SS \"korva " + command))
        << command;
  }
  // The generated completion offers a command's options.
  const Result completed =
      Shell(dir_.Path(),
            "bash -c " + Quote("source <(" + Program(KORVA_BINARY) +
                               " --generate bash); COMP_WORDS=(korva "
                               "evaluate --thr); COMP_CWORD=2; _korva; echo "
                               "${COMPREPLY[@]}"));
  EXPECT_EQ(completed.out, "--threshold --threshold-mode\n") << completed.err;
}

// A module named without a folder is the file in the current folder.
TEST_F(Korva, ModuleNamedWithoutFolderLoadsFromTheCurrentFolder) {
  Put("data.csv", Shared("test.csv"));
  fs::copy_file(KORVA_MODULE_FILE, dir_ / "ZEZODOvo64.kvc");
  EXPECT_EQ(Run("train data.csv --model m.xml --quiet --module ZEZODOvo64.kvc")
                .status,
            kExitOk);
}

// ---- MATLAB files
// ---------------------------------------------------------------

// `data` as "features" (epochs x features), "labels" and a cell array
// "channels" of the names, in a MATLAB file of `version`.
void WriteMat(const fs::path& path, const Data::Dataset& data, int version) {
  mat_t* mat =
      Mat_CreateVer(path.c_str(), nullptr, static_cast<mat_ft>(version));
  ASSERT_NE(mat, nullptr);
  std::vector<double> X(data.X.size()), labels = data.labels;
  for (int r = 0; r < data.rows; ++r)
    for (int c = 0; c < data.cols; ++c)
      X[static_cast<size_t>(c) * data.rows + r] = data.At(r, c);
  size_t xDims[2] = {size_t(data.rows), size_t(data.cols)},
         yDims[2] = {1, size_t(data.rows)};
  size_t nDims[2] = {1, size_t(data.cols)};
  matvar_t* vars[3] = {
      Mat_VarCreate(
          "features", MAT_C_DOUBLE, MAT_T_DOUBLE, 2, xDims, X.data(), 0),
      Mat_VarCreate(
          "labels", MAT_C_DOUBLE, MAT_T_DOUBLE, 2, yDims, labels.data(), 0),
      Mat_VarCreate("channels", MAT_C_CELL, MAT_T_CELL, 2, nDims, nullptr, 0)};
  std::vector<std::string> names = data.names;
  for (int c = 0; c < data.cols; ++c) {
    size_t dims[2] = {1, names[c].size()};
    Mat_VarSetCell(
        vars[2],
        c,
        Mat_VarCreate(
            nullptr, MAT_C_CHAR, MAT_T_UTF8, 2, dims, names[c].data(), 0));
  }
  for (matvar_t* var : vars) {
    Mat_VarWrite(mat, var, MAT_COMPRESSION_NONE);
    Mat_VarFree(var);
  }
  Mat_Close(mat);
}

class KorvaMat : public Korva, public ::testing::WithParamInterface<int> {};

TEST_P(KorvaMat, TrainsAndScoresAsFromTheSameDataInCsv) {
  PutShared();
  WriteMat(dir_ / "set.mat", Data::ReadCsv(dir_ / "train.csv"), GetParam());
  ASSERT_EQ(Run("train set.mat --x features --y labels --names channels "
                "--model mat.xml --quiet")
                .status,
            kExitOk);
  EXPECT_EQ(Get("mat.xml"), Shared("model.xml"));
  const Result scored =
      Run("score mat.xml set.mat --x features --y labels --output a.csv");
  EXPECT_GT(PrintedAuc(scored.out, "AUC "), kMinAuc) << scored.out;
  ASSERT_EQ(Run("score mat.xml train.csv --output b.csv").status, kExitOk);
  EXPECT_EQ(Get("a.csv"), Get("b.csv"));
  EXPECT_THAT(Run("score mat.xml set.mat --x features").err,
              Not(HasSubstr("AUC")));
  // A FIFO is read once, into a private copy, and hashed as read.
  const Result fifo = Shell(
      dir_.Path(),
      "mkfifo fifo.mat && (cat set.mat > fifo.mat &) && timeout 120 " +
          Program(KORVA_BINARY) +
          " train fifo.mat --x features --y labels --names channels --model "
          "f.xml --summary f.json --quiet && sha256sum set.mat | cut -c1-64");
  ASSERT_EQ(fifo.status, kExitOk) << fifo.err;
  EXPECT_EQ(Get("f.xml"), Shared("model.xml"));
  EXPECT_EQ(
      nlohmann::json::parse(Get("f.json"))["provenance"]["inputs"][0]["sha256"]
              .get<std::string>() +
          "\n",
      fifo.out);

  const std::pair<std::string, std::string> refused[] = {
      {"set.mat --x X --y labels",
       "no variable 'X' for the features (the file holds: "},
      {"set.mat --x labels --y features",
       "variable 'features' (labels) is 360 x 40"},
      {"set.mat --x features", "needs --y VAR"},
      {"train.csv.mat --x X --y y", "cannot open it as a MATLAB file"}};
  Put("train.csv.mat", BinaryBytes(5000));
  for (const auto& [arguments, message] : refused) {
    const Result r = Run("train " + arguments + " --model m.xml");
    EXPECT_EQ(r.status, kExitData) << arguments;
    EXPECT_THAT(r.err, HasSubstr(message)) << arguments;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, KorvaMat, ::testing::Values(int(MAT_FT_MAT5), int(MAT_FT_MAT73)));

// ---- labels, folds and results for scripts -----------------------------

// Labels 0 and 1 are refused with the option that fixes them.
TEST_F(Korva, ZeroOneLabelsNeedATargetLabel) {
  Put("01.csv", FirstRows(Shared("train.csv"), 200, [](int r) {
        return r % 5 == 0 ? "1" : "0";
      }));
  const Result refused = Run("train 01.csv --model m.xml");
  EXPECT_EQ(refused.status, kExitData);
  EXPECT_THAT(refused.err, HasSubstr("--target-label 1"));
  const Result recoded =
      Run("train 01.csv --model m.xml --target-label 1 --summary -");
  ASSERT_EQ(recoded.status, kExitOk) << recoded.err;
  const auto data = nlohmann::json::parse(recoded.out)["data"];
  EXPECT_EQ(data["positive"], 40);
  EXPECT_EQ(data["negative"], 160);
}

// --blocks deals contiguous folds; --groups keeps each group in one fold and
// does not train on the group column.
TEST_F(Korva, FoldsKeepBlocksAndGroupsTogether) {
  PutShared();
  // The out-of-fold CSV (row,fold,label,score) read back, the labels apart:
  // fold is column 1, score column 2.
  const auto folds = [](const std::string& csv) {
    return Data::ParseCsv(csv, "oof");
  };
  const Result blocks =
      Run("evaluate train.csv --blocks --quiet --oof-scores -");
  ASSERT_EQ(blocks.status, kExitOk) << blocks.err;
  const Data::Dataset b = folds(blocks.out);
  ASSERT_EQ(b.rows, 360);
  for (int r = 0; r < 360; ++r) EXPECT_EQ(b.At(r, 1), 1 + r / 72) << r;
  // Block 1's scores are those of a model trained on the other blocks (to the
  // six digits that a saved weight keeps).
  std::istringstream rows(Shared("train.csv"));
  std::string header, row, first, rest;
  std::getline(rows, header);
  for (int r = 0; std::getline(rows, row); ++r)
    (r < 72 ? first : rest) += row + "\n";
  Put("first.csv", header + "\n" + first);
  Put("rest.csv", header + "\n" + rest);
  ASSERT_EQ(Run("train rest.csv --model rest.xml --quiet").status, kExitOk);
  const Data::Dataset s =
      folds(Run("score rest.xml first.csv --output - --quiet").out);
  ASSERT_EQ(s.rows, 72);
  for (int r = 0; r < 72; ++r) EXPECT_NEAR(s.At(r, 1), b.At(r, 2), 1e-5) << r;

  // Row r is in run "s" + (3 - r % 4): a column named run is the groups,
  // never a feature, and each group is a fold, in order of appearance.
  Put("grouped.csv", WithFirstColumn("run", [](int r) {
        return "s" + std::to_string(3 - r % 4);
      }));
  const Result groups =
      Run("evaluate grouped.csv --quiet --oof-scores oof.csv --summary -");
  ASSERT_EQ(groups.status, kExitOk) << groups.err;
  const Data::Dataset g = folds(Get("oof.csv"));
  for (int r = 0; r < g.rows; ++r) EXPECT_EQ(g.At(r, 1), 1 + r % 4) << r;
  const auto summary = nlohmann::json::parse(groups.out);
  EXPECT_EQ(summary["data"]["features"], 40);
  EXPECT_EQ(summary["scheme"],
            "4-fold cross-validation by the groups in column run (leave one "
            "group out)");
  for (int k = 0; k < 4; ++k)
    EXPECT_EQ(summary["folds"][k]["groups"],
              nlohmann::json::array({"s" + std::to_string(3 - k)}));
  // Folds trained in worker processes report their own training time.
  for (const auto& fold : summary["folds"]) EXPECT_GT(fold["seconds"], 0.0);
  ASSERT_EQ(Run("train grouped.csv --model g.xml --quiet").status, kExitOk);
  EXPECT_EQ(Run("score g.xml test.csv --quiet --output s.csv").status, kExitOk);
}

// The command line of one setting of a tune summary:
// "--p-enter 0.02 --p-remove 0.05 --max-iter 300".
std::string SettingOptions(const nlohmann::json& setting) {
  return "--p-enter " + setting["p_enter"].dump() + " --p-remove " +
         setting["p_remove"].dump() + " --max-iter " +
         setting["max_iter"].dump();
}

// tune trains each setting of its grid as evaluate trains that one setting
// on the same folds; it skips and counts the reversed pair, ranks the rows
// best first, and --model is the chosen setting trained as train trains it.
TEST_F(Korva, TuneEqualsEvaluateSettingBySetting) {
  PutShared();
  const std::string folds = " --folds 4 --seed 3 --quiet";
  const Result tune =
      Run("tune train.csv --p-enter 0.02,0.1 --p-remove 0.05,0.15 --max-iter "
          "2,300 --summary s.json --model m.xml --report r.html" +
          folds);
  ASSERT_EQ(tune.status, kExitOk) << tune.err;
  const auto summary = nlohmann::json::parse(Get("s.json"));
  EXPECT_EQ(summary["grid"]["skipped"], 1);
  const auto& settings = summary["settings"];
  ASSERT_EQ(settings.size(), 6u);
  std::vector<double> byRank(settings.size());
  for (const auto& setting : settings) {
    const Result one = Run("evaluate train.csv --summary - " +
                           SettingOptions(setting) + folds);
    ASSERT_EQ(one.status, kExitOk) << one.err;
    const auto alone = nlohmann::json::parse(one.out);
    for (size_t k = 0; k < 4; ++k) {
      EXPECT_EQ(setting["folds"][k]["metrics"], alone["folds"][k]["metrics"]);
      EXPECT_EQ(setting["folds"][k]["selection"],
                alone["folds"][k]["selection"]);
    }
    EXPECT_EQ(setting["overall"], alone["overall"]);
    byRank.at(setting["rank"].get<size_t>() - 1) =
        setting["overall"]["mean_auc"];
  }
  EXPECT_TRUE(std::is_sorted(byRank.rbegin(), byRank.rend()));
  const auto& chosen = settings[summary["chosen"].get<size_t>()];
  EXPECT_EQ(chosen["rank"], 1);
  EXPECT_NE(settings[0]["overall"]["mean_auc"],
            settings[5]["overall"]["mean_auc"]);
  ASSERT_EQ(Run("train train.csv --model t.xml " + SettingOptions(chosen) +
                " --quiet")
                .status,
            kExitOk);
  EXPECT_EQ(Get("m.xml"), Get("t.xml"));
  // A map per max-iter, of 3 settings and the skipped pair each.
  EXPECT_EQ(Count(Get("r.html"), "<title>p-enter "), 6);
  EXPECT_EQ(Count(Get("r.html"), ">skipped<"), 2);
  // From a recording, --model keeps the recipe as train's model does.
  PutSharedRecording();
  const Result recording =
      Run("tune run.vhdr --target-events 2 --nontarget-events 1 --p-enter 0.05 "
          "--p-remove 0.1 "
          "--model r.xml --quiet");
  ASSERT_EQ(recording.status, kExitOk) << recording.err;
  EXPECT_EQ(Get("r.xml"), Get("recipe.xml"));
  EXPECT_EQ(Run("score r.xml run.vhdr --output s.csv --quiet").status, kExitOk);

  // --one-se: the fewest features within a standard error of the best.
  const Result sparse =
      Run("tune train.csv --p-enter 0.02,0.1 --p-remove 0.05,0.15 --max-iter "
          "2,300 --one-se --summary -" +
          folds);
  ASSERT_EQ(sparse.status, kExitOk) << sparse.err;
  const auto one = nlohmann::json::parse(sparse.out);
  const auto& best = one["settings"][one["best"].get<size_t>()];
  const auto& rule = one["settings"][one["chosen"].get<size_t>()];
  EXPECT_EQ(best["overall"], chosen["overall"]);
  EXPECT_GE(rule["overall"]["mean_auc"].get<double>(),
            best["overall"]["mean_auc"].get<double>() -
                best["auc_standard_error"].get<double>());
  for (const auto& setting : one["settings"]) {
    if (setting["overall"]["mean_auc"].get<double>() >=
        best["overall"]["mean_auc"].get<double>() -
            best["auc_standard_error"].get<double>()) {
      EXPECT_GE(setting["overall"]["mean_selected"],
                rule["overall"]["mean_selected"]);
    }
  }
}

// The module's shared trainings against each fold and setting trained on
// its own (the module built without them, and them switched off): every
// fold's selection, metrics and out-of-fold score alike, on the demo data
// and on columns that are near copies of one another.
TEST_F(Korva, SharedTrainingsEqualSeparateOnes) {
  ASSERT_EQ(Run("demo --output demo --quiet").status, kExitOk);
  std::string csv = "label,a,b,c,d,e,f\n";
  for (int r = 0; r < 300; ++r) {
    const double label = r % 5 == 0 ? 1 : -1;
    const double a = (r * 37 % 101) / 10.0 + (label > 0 ? 0.8 : 0.0);
    const double c = (r * 53 % 97) / 10.0;
    const double e = (r * 29 % 89) / 10.0 + (label > 0 ? 0.3 : 0.0);
    const auto near = [r](double x, int k) {
      return x + ((r * k) % 13 - 6) * 1e-9;
    };
    csv += Text::FormatDouble(label) + "," + Text::FormatDouble(a) + "," +
           Text::FormatDouble(near(a, 7)) + "," + Text::FormatDouble(c) +
           "," + Text::FormatDouble(near(c, 11)) + "," +
           Text::FormatDouble(e) + "," + Text::FormatDouble(near(e, 3)) + "\n";
  }
  Put("collinear.csv", csv);
  const std::regex seconds("\"(\\w*seconds)\": [0-9.e+-]+");
  const std::string grid =
      " --p-enter 0.01,0.05,0.1,0.3 --p-remove 0.35 --max-iter 3,300 --quiet";
  const std::vector<std::string> ways = {
      "", " --module " KORVA_SEPARATE_MODULE, " --jobs 1"};
  for (std::string data : {"demo/calibration.csv", "collinear.csv"}) {
    for (const std::string& command :
         {"tune " + data + grid + " --folds 5 --model M.xml --summary S.json",
          "evaluate " + data + " --folds 4 --threshold balanced --summary "
          "S.json --oof-scores O.csv",
          "evaluate " + data + " --tune --folds 3 --summary S.json"}) {
      SCOPED_TRACE(command);
      std::vector<std::string> outputs;
      for (const std::string& way : ways) {
        for (const char* file : {"S.json", "M.xml", "O.csv"})
          fs::remove(dir_ / file);
        const Result r = Run(
            command + way, way == ways[2] ? "KORVA_SHARED_TRAININGS=0 " : "");
        ASSERT_EQ(r.status, kExitOk) << r.err;
        auto summary = nlohmann::json::parse(Get("S.json"));
        summary.erase("provenance");  // names the module and the command
        std::string all = std::regex_replace(summary.dump(1), seconds, "$1");
        for (const char* file : {"M.xml", "O.csv"})
          if (fs::exists(dir_ / file)) all += Get(file);
        outputs.push_back(all);
      }
      EXPECT_EQ(outputs[1], outputs[0]);
      EXPECT_EQ(outputs[2], outputs[0]);
    }
  }
}

// Nested evaluation tunes on an outer fold's training rows only. Planted:
// feature x gives the label in runs s1 to s3 and the opposite label in run
// s0. Fold 1 (s0 out) tunes on s1 to s3 alone and must see a perfect inner
// AUC; had it trained on any row of s0, an inner fold would rank its rows
// backwards. The folds that hold s0 among their training rows must see it.
TEST_F(Korva, NestedEvaluationNeverTrainsOnTheOuterTestFold) {
  std::string csv = "run,label,x,n1,n2\n";
  for (int r = 0; r < 160; ++r) {
    const int run = r / 40;
    const int label = (r * 7 + r / 3) % 5 == 0 ? 1 : -1;
    const int sign = run == 0 ? -1 : 1;
    csv += "s" + std::to_string(run) + "," + std::to_string(label) + "," +
           Text::FormatDouble(sign * label * 2.0 + (r * 37 % 11 - 5) * 0.1) +
           "," + Text::FormatDouble((r * 53 % 17 - 8) * 0.3) + "," +
           Text::FormatDouble((r * 29 % 13 - 6) * 0.2) + "\n";
  }
  Put("planted.csv", csv);
  const Result r =
      Run("evaluate planted.csv --tune --p-enter 0.01,0.1 --p-remove 0.15 "
          "--summary - --quiet");
  ASSERT_EQ(r.status, kExitOk) << r.err;
  const auto summary = nlohmann::json::parse(r.out);
  ASSERT_EQ(summary["folds"].size(), 4u);
  EXPECT_EQ(summary["folds"][0]["groups"], nlohmann::json::array({"s0"}));
  EXPECT_EQ(summary["folds"][0]["chosen"]["inner_mean_auc"], 1.0);
  EXPECT_LT(summary["folds"][0]["metrics"]["auc"], 0.1);
  for (size_t k = 1; k < 4; ++k)
    EXPECT_LT(summary["folds"][k]["chosen"]["inner_mean_auc"], 0.9) << k;
  EXPECT_THAT(summary["tuning"]["inner_scheme"].get<std::string>(),
              HasSubstr("by the groups in column run"));
}

// Data from standard input, the summary to standard output, with the
// version korva reports.
TEST_F(Korva, TrainReadsStandardInputAndWritesTheSummaryToOutput) {
  PutShared();
  const Result version = Run("--version");
  const Result run =
      Run("train - --model m.xml --summary - --quiet < train.csv");
  ASSERT_EQ(run.status, kExitOk) << run.err;
  const auto summary = nlohmann::json::parse(run.out);
  EXPECT_EQ(version.out,
            "korva " +
                summary["provenance"]["korva_version"].get<std::string>() +
                "\n");
  EXPECT_EQ(summary["data"]["rows"], 360);
  EXPECT_FALSE(summary["selection"].empty());
  // The digests are those of the bytes read, from standard input or a FIFO
  // (read once: a second reading would wait for a writer forever).
  const auto digest = [&](const std::string& name) {
    return Shell(dir_.Path(), "sha256sum " + name + " | cut -c1-64").out;
  };
  EXPECT_EQ(
      summary["provenance"]["inputs"][0]["sha256"].get<std::string>() + "\n",
      digest("train.csv"));
  const Result fifo = Shell(
      dir_.Path(),
      "mkfifo data.fifo model.fifo && (cat train.csv > data.fifo &) && "
      "(cat model.xml > model.fifo &) && timeout 120 " +
          Program(KORVA_BINARY) +
          " train data.fifo --model f.xml --summary f.json --report f.html "
          "--quiet && timeout 60 " +
          Program(KORVA_BINARY) +
          " score model.fifo test.csv --output s.csv --summary s.json --quiet");
  ASSERT_EQ(fifo.status, kExitOk) << fifo.err;
  EXPECT_EQ(Get("f.xml"), Get("m.xml"));
  const auto hashed = [&](const std::string& file) {
    return nlohmann::json::parse(Get(file))["provenance"]["inputs"][0]["sha256"]
               .get<std::string>() +
           "\n";
  };
  EXPECT_EQ(hashed("f.json"), digest("train.csv"));
  EXPECT_EQ(hashed("s.json"), digest("model.xml"));
  EXPECT_THAT(Get("f.html"), HasSubstr(digest("train.csv").substr(0, 64)));
}

}  // namespace
}  // namespace Korva::Testing
