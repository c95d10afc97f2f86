#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sources/data_source.h"
#include "sources/source_error.h"
#include "testing/files.h"

namespace Korva::Sources {
namespace {

using ::testing::HasSubstr;

// What the layer makes of what a user names: recordings or a feature table
// (by extension, or for a regular file by its content), and the
// combinations it refuses before it reads or cuts anything.
struct Naming {
  const char* name;
  std::vector<std::string> paths;  // in the test's folder; "-" as it is
  void (*given)(DataSource&, RecipeSettings&);  // settings given; may be null
  bool recordings;      // what ReadsRecordings says, when it says anything
  const char* refused;  // Error(kUsage) of LoadData; "" when accepted
};

void NoSettings(DataSource&, RecipeSettings&) {}

class SourceNaming : public ::testing::TestWithParam<Naming> {
 protected:
  SourceNaming() {
    for (const char* name : {"run.vhdr", "run2.vhdr"}) Put(name, "");
    Put("table.csv", "label,a\n1,2\n-1,3\n");
    Put("headset", "Timestamp,Fz,Marker\n0,1,0\n");
    Put("events.csv", "Time,Fz,Events\n0,1,0\n");
  }
  void Put(const std::string& name, const std::string& text) {
    Testing::WriteFile(dir_ / name, text);
  }
  DataSource Source(const Naming& n) const {
    DataSource source;
    for (const std::string& path : n.paths)
      source.paths.push_back(path == "-" ? path : dir_ / path);
    return source;
  }
  Testing::TempDir dir_;
};

TEST_P(SourceNaming, TellsTheKindOrRefuses) {
  const Naming& n = GetParam();
  DataSource source = Source(n);
  RecipeSettings settings{{}, [] {
                            ADD_FAILURE() << "the recipe was made";
                            return Epoching::Recipe();
                          }};
  (n.given ? n.given : NoSettings)(source, settings);
  if (*n.refused == '\0') {
    EXPECT_EQ(ReadsRecordings(source), n.recordings);
    return;
  }
  try {
    LoadData(source, true, settings);
    ADD_FAILURE() << "accepted";
  } catch (const Error& error) {
    EXPECT_EQ(error.Kind(), ErrorKind::kUsage);
    EXPECT_THAT(error.what(), HasSubstr(n.refused));
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Sources, SourceNaming, ::testing::Values(
    Naming{"RecordingByExtension", {"run.vhdr"}, nullptr, true, ""},
    Naming{"MissingFileByExtension", {"RUN.EDF"}, nullptr, true, ""},
    Naming{"Table", {"table.csv"}, nullptr, false, ""},
    Naming{"HeadsetCsvByContent", {"headset"}, nullptr, true, ""},
    Naming{"MarkerColumnNamed", {"events.csv"}, [](DataSource& s, RecipeSettings&) { s.open.markerColumn = "Events"; }, true, ""},
    Naming{"NoMarkerColumn", {"events.csv"}, nullptr, false, ""},
    Naming{"StandardInput", {"-"}, nullptr, false, ""},
    Naming{"Mixed", {"run.vhdr", "table.csv"}, nullptr, false, "table.csv): give the one kind or the other"},
    Naming{"RecordingTwice", {"run.vhdr", "run2.vhdr", "run.vhdr"}, nullptr, true, "run.vhdr is given twice"},
    Naming{"DropOfRecordings", {"run.vhdr", "run2.vhdr"}, [](DataSource& s, RecipeSettings&) { s.drop = {"Fz_01"}; }, true, "--drop reads feature tables, and "},
    Naming{"GroupsOfRecordingsByTrial", {"run.vhdr"}, [](DataSource& s, RecipeSettings&) { s.groups = "trial"; }, true, "--groups trial: recordings are grouped by recording (or run), and the runs of EEG-BIDS folders also by session or subject"},
    Naming{"RecipeOfATable", {"table.csv"}, [](DataSource&, RecipeSettings& r) { r.given = {"--band", "--bins"}; }, false, "--band and --bins cut recordings into epochs, and "},
    Naming{"RateOfATable", {"table.csv"}, [](DataSource& s, RecipeSettings&) { s.open.samplingRate = 256; }, false, "--sampling-rate cuts recordings into epochs"},
    Naming{"SeveralTables", {"table.csv", "-"}, nullptr, false, "several feature tables ("},
    Naming{"MatVariablesOfCsv", {"table.csv"}, [](DataSource& s, RecipeSettings&) { s.mat.x = "X"; }, false, "--x, --y and --names name the variables of a MATLAB file"},
    Naming{"NoRecipe", {"run.vhdr"}, [](DataSource&, RecipeSettings& r) { r.make = nullptr; }, true, "no recipe to cut the recordings"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace Korva::Sources
