// Files a recording reader must refuse. Each row writes a small file, most
// of them one of the well-formed files below with one fault, and expects a
// DataError that names the file and says what is wrong. Then the ways of
// reading a channel out of a binary file, and the numbers of a headset CSV
// file against the doubles their text says. (Samples and events of
// well-formed files are checked against MNE in
// python/tests/test_recordings.py, EDF and BDF samples also against EDFlib.)
#include "recording/recording.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "data/dataset.h"
#include "recording/binary_file.h"
#include "testing/files.h"

namespace Korva::Recording {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using Testing::TempDir;
using Testing::WriteFile;
using Testing::EdfPlusD;
using namespace std::string_literals;

std::string Field(std::string text, size_t size) {
  text.resize(size, ' ');
  return text;
}

// Plain EDF: `signals` channels of 4 samples in each of `records` records
// of one second; the header may claim another number of signals. With `bdf`
// the same as BDF: its version field, "24BIT" and 24-bit samples.
std::string Edf(int records = 2, int signals = 2, int claimed = 2, bool bdf = false) {
  std::string head = (bdf ? "\xff" "BIOSEMI" + Field("", 160) : Field("0", 168)) +
                     "01.01.2400.00.00" +
                     Field(std::to_string(256 * (signals + 1)), 8) +
                     Field(bdf ? "24BIT" : "", 44) +
                     Field(std::to_string(records), 8) + Field("1", 8) +
                     Field(std::to_string(claimed), 4);
  const std::pair<const char*, size_t> fields[] = {
      {"Fz", 16},
      {"", 80},
      {"uV", 8},
      {"-100", 8},
      {"100", 8},
      {bdf ? "-8388608" : "-32768", 8},
      {bdf ? "8388607" : "32767", 8},
      {"", 80},
      {"4", 8},
      {"", 32}};
  for (const auto& [text, size] : fields)
    for (int s = 0; s < signals; ++s)
      head += Field(size == 16 ? std::string(text) + std::to_string(s) : std::string(text), size);
  return head + std::string(records * signals * 4 * (bdf ? 3 : 2), '\1');
}

// GDF 2: one int16 channel of 4 samples per record, then an event table of
// `events` events that claims `claimed` of them.
std::string Gdf(int records = 2,
                int channels = 1,
                int events = 1,
                std::uint32_t claimed = 1) {
  std::string fixed = "GDF 2.10" + std::string(248, '\0');
  fixed[184] = static_cast<char>(1 + channels);
  fixed[236] = static_cast<char>(records);
  fixed[244] = fixed[248] = 1;
  fixed[252] = static_cast<char>(channels);
  std::string variable(256, '\0');
  variable.replace(0, 2, "Fz");
  const double ranges[] = {-100, 100, -32768, 32767};
  std::memcpy(&variable[104], ranges, sizeof(ranges));
  variable[216] = 4;
  variable[220] = 3;
  std::string table = {1};
  table += std::string(reinterpret_cast<const char*>(&claimed), 3) +
           std::string("\0\0\x80\x43", 4);  // 256.0f: the events' rate
  for (int e = 0; e < events; ++e) table += std::string("\1\0\0\0", 4);
  for (int e = 0; e < events; ++e) table += std::string("\2\0", 2);
  return fixed + variable + std::string(records * 4 * 2, '\0') + table;
}

// A BrainVision set: `listed` channels in a header that claims `claimed`,
// `dataBytes` of INT_16 samples and a marker at `position`.
std::string BrainVision(const TempDir& dir,
                        int claimed = 2,
                        int listed = 2,
                        int dataBytes = 16,
                        std::string position = "2") {
  std::string channels;
  for (int c = 1; c <= listed; ++c)
    channels +=
        "Ch" + std::to_string(c) + "=C" + std::to_string(c) + ",,0.1,µV\n";
  WriteFile(dir / "a.vhdr",
            "Brain Vision Data Exchange Header File Version 1.0\n"
            "[Common Infos]\nDataFile=a.eeg\nMarkerFile=a.vmrk\n"
            "DataFormat=BINARY\nDataOrientation=MULTIPLEXED\n"
            "NumberOfChannels=" +
                std::to_string(claimed) +
                "\nSamplingInterval=1000\n[Binary Infos]\n"
                "BinaryFormat=INT_16\n[Channel Infos]\n" +
                channels);
  WriteFile(dir / "a.vmrk",
            "Brain Vision Data Exchange Marker File, Version 1.0\n"
            "[Marker Infos]\nMk1=Stimulus,S  1," +
                position + ",1,0\n");
  WriteFile(dir / "a.eeg", std::string(dataBytes, '\0'));
  return dir / "a.vhdr";
}

// A headset CSV file with the given header and rows of time steps `step`.
std::string Csv(const TempDir& dir,
                const std::string& header = "Time,Fz,Marker",
                double step = 0.004,
                const std::string& lastRow = "") {
  std::string text = header + "\n";
  for (int i = 0; i < 8; ++i)
    text += std::to_string(i * step) + ",1.5," + (i == 3 ? "2" : "0") + "\n";
  WriteFile(dir / "h.csv", text + lastRow);
  return dir / "h.csv";
}

int Whole(long long k) { return static_cast<int>(k); }

std::string Write(const TempDir& dir,
                  const std::string& name,
                  const std::string& bytes) {
  WriteFile(dir / name, bytes);
  return dir / name;
}

// A headset CSV file large enough to be read in two halves at once (1.5
// MB): 100000 rows, row `bad` (from 0) replaced by `row`.
std::string LargeCsv(const TempDir& dir, int bad, const std::string& row) {
  std::string text = "Time,Fz,Marker\n";
  for (int i = 0; i < 100000; ++i)
    text += i == bad ? row : std::to_string(i * 0.004) + ",1.5,0\n";
  return Write(dir, "h.csv", text);
}

// A headset CSV file of `rows` rows at 256 Hz under `header`, row i stamped
// time(i), marker 2 on row 3 and 1 on row 1000.
std::string TimedCsv(const TempDir& dir,
                     int rows,
                     std::string (*time)(int),
                     const std::string& header = "Time,Fz,Marker") {
  std::string text = header + "\n";
  for (int i = 0; i < rows; ++i)
    text += time(i) + "," + std::to_string(i % 7) + "," +
            (i == 3 ? "2" : i == 1000 ? "1" : "0") + "\n";
  return Write(dir, "h.csv", text);
}

// Row i's time at 256 Hz, in whole milliseconds.
std::string Milliseconds(int i) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.3f", std::round(i * 1000.0 / 256) / 1000);
  return text;
}

TEST(Recording, TheWellFormedFilesOpen) {
  TempDir dir;
  const struct {
    std::string path;
    const char* format;
    long long samples;
    size_t events;
    double sample;  // every sample of the first channel
  } files[] = {
      // digital 0x0101, scaled as EDFlib scales: (257 + 0.5) * 200 / 65535
      {Write(dir, "a.edf", Edf()), "EDF", 8, 0, 51500.0 / 65535},
      // digital 0x010101 in -2^23..2^23-1, physical -100..100
      {Write(dir, "b.edf", Edf(2, 2, 2, true)), "BDF", 8, 0, (65793 + 0.5) * 200 / 16777215},
      // digital 0 in -32768..32767, physical -100..100
      {Write(dir, "a.gdf", Gdf()), "GDF 2", 8, 1, 100.0 / 65535},
      {BrainVision(dir), "BrainVision", 4, 1, 0},
      {Csv(dir), "headset CSV", 8, 1, 1.5},
      // a UTF-8 byte order mark hides neither the time column nor a name
      {Write(dir, "b.csv", "\xEF\xBB\xBF" + Korva::Testing::ReadFile(Csv(dir))), "headset CSV", 8, 1, 1.5}};
  for (const auto& file : files) {
    const auto recording = OpenRecording(file.path, {});
    EXPECT_EQ(recording->Format(), file.format);
    EXPECT_EQ(recording->Samples(), file.samples) << file.format;
    EXPECT_EQ(recording->Events().size(), file.events) << file.format;
    EXPECT_TRUE(IsRecording(file.path, {})) << file.path;
    std::vector<double> samples;
    recording->ReadChannel(0, samples);
    EXPECT_THAT(samples,
                ::testing::AllOf(
                    ::testing::SizeIs(file.samples),
                    ::testing::Each(::testing::DoubleNear(file.sample, 1e-12))))
        << file.format;
  }
  EXPECT_FALSE(IsRecording(Write(dir, "f.csv", "label,f1\n1,2\n"), {}));
}

// Nothing lost: a marker number given twice keeps both markers, and a GDF
// event table whose rate is absurd (3e38 Hz) keeps its positions as samples
// of the recording (rescaled, every event would fall on sample 0), with a
// note. A BrainVision recording lists the files it read, the header first.
TEST(Recording, RepeatedMarkersAndAnAbsurdEventRateLoseNoEvent) {
  TempDir dir;
  const std::string vhdr = BrainVision(dir);
  WriteFile(dir / "a.vmrk",
            "Brain Vision Data Exchange Marker File, Version 1.0\n"
            "[Marker Infos]\nMk1=Stimulus,S  1,2,1,0\nMk1=Stimulus,S  2,3,1,0\n");
  const auto bv = OpenRecording(vhdr, {});
  ASSERT_EQ(bv->Events().size(), 2u);
  EXPECT_EQ(bv->Events()[1].code, "Stimulus/S  2");
  EXPECT_THAT(bv->Files(),
              ::testing::ElementsAre(vhdr, dir / "a.eeg", dir / "a.vmrk"));
  // The event at position 7 (from 1), the table's rate 3e38 as float32.
  std::string gdf = Gdf();
  gdf.replace(gdf.size() - 10, 6, std::string("\xe6\xb1\x61\x7f\x07\0", 6));
  const auto events = OpenRecording(Write(dir, "a.gdf", gdf), {});
  ASSERT_EQ(events->Events().size(), 1u);
  EXPECT_EQ(events->Events()[0].sample, 6);
  EXPECT_THAT(events->Notes(),
              ::testing::ElementsAre(HasSubstr("3e+38 Hz, is ignored")));
}

// An EDF+D (BDF+D) file of five records of 4 samples at 4 Hz, stamped 0,
// 1, 3.5, 4.5 and 10 s: gaps of 1.5 s after record 2 and 4.5 s after record
// 4, so breaks at samples 8 and 16. Annotations at 0.5 s (record 1, sample
// 2), 3.875 s (record 3: 8 + 1.5 rounded to even = 10), 4.625 s (record 4:
// 12 + 0.5 rounded to even = 12) and 10.6 s (record 5: 16 + 2.4 = 18); at
// 2.5 s and 7 s they fall in the gaps.
class EdfPlusDRead : public ::testing::TestWithParam<bool> {};

TEST_P(EdfPlusDRead, PlacesRecordsAtTheirStampsWithBreaksBetween) {
  const bool bdf = GetParam();
  TempDir dir;
  const std::string file = EdfPlusD(
      {"+0\x14\x14\0+0.5\x14" "A\x14\0+7\x14Gap\x14"s, "+1\x14\x14\0+2.5\x14Gap\x14"s,
       "+3.5\x14\x14" "B\x14\0+3.875\x14" "C\x14"s, "+4.5\x14\x14\0+4.625\x14" "D\x14"s,
       "+10\x14\x14\0+10.6\x14" "E\x14"s}, 4, Whole, bdf);
  const auto r = OpenRecording(Write(dir, bdf ? "a.bdf" : "a.edf", file), {});
  EXPECT_EQ(r->Format(), bdf ? "BDF+D" : "EDF+D");
  std::vector<long long> breaks, events;
  for (const Break& b : r->Breaks()) breaks.push_back(b.sample);
  ASSERT_EQ(breaks, (std::vector<long long>{8, 16}));
  EXPECT_EQ(r->Breaks()[1].why, "the records jump 4.5 s, from 5.5 s to 10 s, after record 4");
  std::string codes;
  for (const Event& e : r->Events()) events.push_back(e.sample), codes += e.code;
  EXPECT_EQ(events, (std::vector<long long>{2, 8, 10, 12, 18}));
  EXPECT_EQ(codes, "ABCDE");
  EXPECT_THAT(r->Notes(), ::testing::ElementsAre(HasSubstr("have 2 gaps between them"),
                                                 "2 annotations fall in the gaps between records and are left out"));
  std::vector<double> samples;  // the records in file order: sample k is digital k
  r->ReadChannel(0, samples);
  const double low = bdf ? -8388608 : -32768;
  for (int k : {0, 7, 8, 19}) EXPECT_NEAR(samples.at(k), -100 + (k - low) * 200 / (-2 * low - 1), 1e-9);
}

INSTANTIATE_TEST_SUITE_P(EdfAndBdf, EdfPlusDRead, ::testing::Bool());

struct Refusal {
  const char* name;
  std::function<std::string(const TempDir&)> write;
  const char* says;
  OpenOptions options = {};
};

const Refusal kRefusals[] = {
    {"MatlabFileNamedEdf",
     [](const TempDir& d) {
       return Write(d, "m.edf", std::string("MATLAB 5.0\0\1", 12));
     },
     "not a recording korva reads"},
    {"FeatureTableNamedBdf",
     [](const TempDir& d) { return Write(d, "f.bdf", "label,f1\n1,2\n"); },
     "not a recording korva reads"},
    {"MarkerFileInsteadOfHeader",
     [](const TempDir& d) {
       BrainVision(d);
       return d / "a.vmrk";
     },
     "open the header (.vhdr)"},
    {"TruncatedEdf",
     [](const TempDir& d) { return Write(d, "a.edf", Edf().substr(0, 780)); },
     "announces 2 records of 16 bytes after 768 header bytes; the file has "
     "780 bytes, not one whole record (truncated?)"},
    {"EdfSignalCountDoesNotAddUp",
     [](const TempDir& d) { return Write(d, "a.edf", Edf(2, 2, 3)); },
     "the header's length, \"768\" bytes, is not 1024, the length of a "
     "header of its 3 signals"},
    {"EdfPlusDRecordGoingBack",
     [](const TempDir& d) { return Write(d, "a.edf", EdfPlusD({"+0\x14\x14", "+1\x14\x14", "+1.5\x14\x14"}, 4, Whole)); },
     "record 3 starts at 1.5 s, before record 2 ends at 2 s: the records overlap or go back in time"},
    {"EdfPlusDRecordWithoutItsStart",
     [](const TempDir& d) { return Write(d, "a.edf", EdfPlusD({"+0\x14\x14", "+1\x14" "A\x14"}, 4, Whole)); },
     "record 2 has no time-keeping annotation"},
    {"TruncatedGdf",
     [](const TempDir& d) { return Write(d, "a.gdf", Gdf().substr(0, 520)); },
     "2 records of 8 bytes, more than the file's 520 bytes hold"},
    {"GdfHeaderTooShortForItsChannels",
     [](const TempDir& d) {
       return Write(d, "a.gdf", Gdf(2, 1).replace(252, 1, "\3"));
     },
     "header's length (512 bytes) does not hold its 3 channels"},
    {"GdfEventTableLongerThanTheFile",
     [](const TempDir& d) { return Write(d, "a.gdf", Gdf(2, 1, 1, 1000)); },
     "announces 1000 events, more than the rest of the file holds"},
    {"BrainVisionChannelCountDoesNotAddUp",
     [](const TempDir& d) { return BrainVision(d, 3, 2); },
     "NumberOfChannels is 3 but [Channel Infos] lists 2"},
    {"TruncatedBrainVisionData",
     [](const TempDir& d) { return BrainVision(d, 2, 2, 15); },
     "15 bytes are not a whole number of 2-channel samples"},
    {"BrainVisionMarkerWithoutPosition",
     [](const TempDir& d) { return BrainVision(d, 2, 2, 16, "x"); },
     "Mk1: no marker position"},
    {"UnknownMarkerColumn",
     [](const TempDir& d) { return Csv(d); },
     "no column is named \"Trigger\" (columns: Time, Fz, Marker)",
     {"Trigger", std::nullopt, "", ""}},
    {"TwoMarkerColumns",
     [](const TempDir& d) { return Csv(d, "Time,Marker,MarkerValue"); },
     "several columns are named Marker...; name the marker column"},
    {"TimeInMilliseconds",
     [](const TempDir& d) { return Csv(d, "Time,Fz,Marker", 4); },
     "the time column gives 0.25 Hz, too slow for EEG (is it in milliseconds"},
    {"RowsRunningBackwards",
     [](const TempDir& d) {
       return TimedCsv(d, 2560, [](int i) {
         return std::to_string((i < 500 ? i : 1000 - i) / 256.0);
       });
     },
     "the rows run backwards: row 514 is stamped 1.902 s, 0.0508 s before "
     "row 501: they are not in time order; give the sampling rate"},
    {"TimeNeverAdvances",
     [](const TempDir& d) { return Csv(d, "Time,Fz,Marker", 0); },
     "the time column never advances"},
    {"NulsAfterALargeFile",
     [](const TempDir& d) {
       return LargeCsv(d, 90000, std::string(1 << 20, '\0'));
     },
     "line 90002: a NUL byte: this is binary data, not CSV text"},
    {"Utf16HeadsetCsv",
     [](const TempDir& d) {
       std::string text = "\xFF\xFE";
       for (char c : std::string("Time,Fz,Marker\n0,1,0\n")) text += {c, '\0'};
       return Write(d, "h.csv", text);
     },
     "h.csv: the file is UTF-16 text; save it as UTF-8 (or ASCII) CSV"},
    {"CarriageReturnsAloneEndTheLines",
     [](const TempDir& d) {
       return Write(d, "h.csv", "Time,Fz,Marker\r0,1,0\r0.004,2,1\r");
     },
     "h.csv: its lines end in a carriage return alone; save it with LF or "
     "CRLF line ends"},
    {"MarkerColumnBeyondTheHeader",
     [](const TempDir& d) { return Csv(d); },
     "no column 4 (the header has 3) (columns: Time, Fz, Marker)",
     {"#4", std::nullopt}},
    {"RaggedCsvRow",
     [](const TempDir& d) {
       return Csv(d, "Time,Fz,Marker", 0.004, "0.5,1\n");
     },
     "line 10 has 2 fields, the header 3"},
    {"TextInAChannel",
     [](const TempDir& d) {
       return Csv(d, "Time,Fz,Marker", 0.004, "0.5,x,0\n");
     },
     "line 10, column \"Fz\": \"x\" is not a number"},
    {"NumberFollowedByTextInAChannel",
     [](const TempDir& d) {
       return Csv(d, "Time,Fz,Marker", 0.004, "0.5,-1.5.2,0\n");
     },
     "line 10, column \"Fz\": \"-1.5.2\" is not a number"},
    {"TextInTheFirstHalfOfALargeFile",
     [](const TempDir& d) { return LargeCsv(d, 10, "0.04,x,0\n"); },
     "line 12, column \"Fz\": \"x\" is not a number"},
    {"TextInTheSecondHalfOfALargeFile",
     [](const TempDir& d) { return LargeCsv(d, 90000, "360,x,0\n"); },
     "line 90002, column \"Fz\": \"x\" is not a number"},
    {"RaggedRowInTheSecondHalfOfALargeFile",
     [](const TempDir& d) { return LargeCsv(d, 90000, "360,1.5\n"); },
     "line 90002 has 2 fields, the header 3"},
    {"RaggedRowWithText",
     [](const TempDir& d) {
       return Csv(d, "Time,Fz,Marker", 0.004, "0.5,x\n");
     },
     "line 10 has 2 fields, the header 3"},
};

class Refused : public ::testing::TestWithParam<Refusal> {};

// Markers past the last sample are left out, and the note counts them in
// words that agree with the count.
TEST(Recording, NotesTheMarkersOutsideTheRecording) {
  const struct {
    const char* positions;  // Mk1's, then further markers as a .vmrk lists them
    size_t kept;
    const char* note;
  } cases[] = {
      {"2", 1, nullptr},
      {"9", 0, "1 event lies outside the recording and is left out"},
      {"2,1,0\nMk2=Stimulus,S  1,0,1,0\nMk3=Stimulus,S  1,5", 1,
       "2 events lie outside the recording and are left out"}};
  for (const auto& c : cases) {
    TempDir dir;
    const auto recording = OpenRecording(BrainVision(dir, 2, 2, 16, c.positions), {});
    EXPECT_EQ(recording->Events().size(), c.kept) << c.positions;
    if (c.note == nullptr)
      EXPECT_THAT(recording->Notes(), testing::IsEmpty());
    else
      EXPECT_THAT(recording->Notes(), testing::Contains(std::string(c.note)));
  }
}

TEST_P(Refused, NamingTheFileAndWhatIsWrong) {
  TempDir dir;
  const std::string path = GetParam().write(dir);
  try {
    OpenRecording(path, GetParam().options);
    ADD_FAILURE() << "opened " << path;
  } catch (const Data::DataError& e) {
    EXPECT_THAT(e.what(), StartsWith(path + ": "));
    EXPECT_THAT(e.what(), HasSubstr(GetParam().says));
  }
}

INSTANTIATE_TEST_SUITE_P(Files,
                         Refused,
                         ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return info.param.name; });
// Where a channel lies in a file of random bytes, and the read sizes that
// make ForEachPiece take each of its ways.
struct Layout {
  const char* name;
  ChannelLayout layout;
  std::uint64_t chunkBytes = kChunkBytes;
  std::uint64_t wholeBytes = kWholeBytes;
};

// clang-format off
const Layout kLayouts[] = {
    // start, block bytes, offset, run, blocks, type
    {"AllBlocksAtOnce",       {16, 30, 6, 4, 9, SampleType::kInt24}},
    {"BlocksAChunkAtATime",   {16, 30, 6, 4, 9, SampleType::kInt24}, 70, 0},
    {"RunsOneByOne",          {16, 40000, 100, 30, 3, SampleType::kInt16}, kChunkBytes, 0},
    {"RunsLongerThanAChunk",  {16, 40000, 100, 3000, 3, SampleType::kUInt16}, 1001, 0},
    {"OneBlockInChunks",      {16, 8000, 0, 2000, 1, SampleType::kInt32}, 1000},
};
// clang-format on

// The sample at `at` as ReadChannelSamples must read it.
double Sample(SampleType type, const unsigned char* at) {
  switch (type) {
    case SampleType::kInt24:
      return static_cast<std::int32_t>(
                 static_cast<std::uint32_t>(at[0] | at[1] << 8 | at[2] << 16)
                 << 8) >>
             8;
    case SampleType::kInt16:
      return static_cast<std::int16_t>(at[0] | at[1] << 8);
    case SampleType::kUInt16:
      return at[0] | at[1] << 8;
    default:
      return static_cast<std::int32_t>(ReadU32(at));
  }
}

class ChannelRead : public ::testing::TestWithParam<Layout> {};

// Two files of the same layout read in turn: each channel must come from
// its own file, whatever the reader kept of the other.
TEST_P(ChannelRead, GivesEverySampleOfItsOwnFile) {
  const Layout& c = GetParam();
  const ChannelLayout& l = c.layout;
  TempDir dir;
  const size_t size = l.start + l.blocks * l.blockBytes;
  const std::string bytes[] = {Testing::BinaryBytes(size),
                               Testing::BinaryBytes(size + 1).substr(1)};
  const BinaryFile files[] = {BinaryFile(Write(dir, "a", bytes[0])),
                              BinaryFile(Write(dir, "b", bytes[1]))};
  for (int f : {0, 1, 0}) {
    std::vector<double> got;
    ReadChannelSamples(files[f], l, 0.5, 3, got, c.chunkBytes, c.wholeBytes);
    ASSERT_EQ(got.size(), l.blocks * l.run);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes[f].data());
    for (std::uint64_t b = 0; b < l.blocks; ++b)
      for (std::uint64_t i = 0; i < l.run; ++i) {
        const unsigned char* at = data + l.start + b * l.blockBytes + l.offset +
                                  i * SampleBytes(l.type);
        ASSERT_EQ(got[b * l.run + i], Sample(l.type, at) * 0.5 + 3)
            << "file " << f << ", block " << b << ", sample " << i;
      }
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts,
                         ChannelRead,
                         ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return info.param.name; });

// How a headset CSV file's time column is read: the rate from a line
// through its stamps (a whole rate where that lies within its uncertainty),
// the breaks where it jumps either way, and what the notes say of it. 2560
// rows, 10 s at 256 Hz.
struct TimeColumn {
  const char* name;
  std::string (*time)(int);  // row i's time
  double rate;               // as read
  std::vector<long long> breaks;
  const char* note;  // part of the notes
  const char* header = "Time,Fz,Marker";
  OpenOptions options = {};
};

// clang-format off
const TimeColumn kTimeColumns[] = {
    {"WholeMillisecondsAt256Hz", Milliseconds, 256, {},
     "sampling rate 256 Hz, from the time column: a line through its 2560 stamps gives 256"},
    {"AClockThreePerMilleSlow", [](int i) { return std::to_string(i * 1.003 / 256); }, 255.234, {},
     "gives 255.234 Hz, give or take 0.051; its steps run from 3.917 to 3.918 ms"},
    {"StampedFourSamplesAtATime", [](int i) { return std::to_string(i / 4 * 4 / 256.0); }, 256, {},
     "1920 rows repeat the time of the row before"},
    {"StampsThatJitterBack", [](int i) { return std::to_string((i + (i % 5 == 0 ? 1.5 : 0)) / 256); }, 256, {},
     "512 rows are stamped before the row above it, by up to 1.95 ms"},
    {"AGapOfTwoSeconds", [](int i) { return Milliseconds(i + (i >= 1500 ? 512 : 0)); }, 256, {1500},
     "(in its 2 continuous parts)"},
    {"AStepBackOfAMinute", [](int i) { return std::to_string(i / 256.0 - (i >= 2000 ? 60 : 0)); }, 256, {2000},
     "and 256 lies within that"},
    {"SignedStampsAfterAByteOrderMark", [](int i) { return "+" + Milliseconds(i); }, 256, {},
     "and 256 lies within that", "\xEF\xBB\xBFTime,Fz,Marker"},
    {"UnnamedMarkerColumnByPosition", Milliseconds, 256, {},
     "and 256 lies within that", "Time,Fz,", {"#3", std::nullopt}},
};
// clang-format on

class TimeColumnRead : public ::testing::TestWithParam<TimeColumn> {};

TEST_P(TimeColumnRead, GivesTheRateBreaksAndNotes) {
  const TimeColumn& c = GetParam();
  TempDir dir;
  const auto r = OpenRecording(TimedCsv(dir, 2560, c.time, c.header), c.options);
  EXPECT_NEAR(r->SamplingRate(), c.rate, 1e-9);
  EXPECT_EQ(r->SamplingRateSource(), RateSource::kTimes);
  std::vector<long long> breaks;
  for (const Break& b : r->Breaks()) breaks.push_back(b.sample);
  EXPECT_EQ(breaks, c.breaks);
  std::string notes;
  for (const std::string& note : r->Notes()) notes += note + "\n";
  EXPECT_THAT(notes, HasSubstr(c.note));
  ASSERT_EQ(r->Channels().size(), 2u);
  EXPECT_EQ(r->Channels()[1].type, "TRIG");
  EXPECT_FALSE(r->Channels()[1].eeg);
  ASSERT_EQ(r->Events().size(), 2u);
  EXPECT_EQ(r->Events()[1].sample, 1000);
}

INSTANTIATE_TEST_SUITE_P(Files,
                         TimeColumnRead,
                         ::testing::ValuesIn(kTimeColumns),
                         [](const auto& info) { return info.param.name; });

// Short decimals, which the reader parses itself, and everything else,
// which it hands to the number parser (a leading '+', underflow): each must
// read back as the double strtod makes of its text. Enough rows that the
// file is read in several pieces and the values fill several tiles.
TEST(HeadsetCsv, NumbersReadBackAsTheDoublesTheirTextSays) {
  const std::string texts[] = {"1.5",
                               "-12.345",
                               "-0",
                               "0.0000001",
                               "1234567.1234567",
                               "12345678",
                               "0.12345678",
                               "4123.589743589744",
                               "1e3",
                               "-2.5E-3",
                               " 3.25 ",
                               "7.",
                               ".5",
                               "00012.50",
                               "9007199254740993",
                               "1.7976931348623157e308",
                               "+1.5",
                               "+7",
                               "1e-400",
                               "-1e-400",
                               "4e-324"};
  const size_t n = std::size(texts);
  const size_t rows = 200000;
  std::string csv = "Time,Fz,Marker\n";
  for (size_t r = 0; r < rows; ++r)
    csv += std::to_string(r) + "e-3," + texts[r % n] + ",0\n";
  TempDir dir;
  const auto recording = OpenRecording(Write(dir, "h.csv", csv), {});
  ASSERT_EQ(recording->Samples(), static_cast<long long>(rows));
  std::vector<double> got;
  recording->ReadChannel(0, got);
  for (size_t r = 0; r < rows; ++r) {
    std::string_view text = texts[r % n];
    text.remove_prefix(text.find_first_not_of(' '));
    text = text.substr(0, text.find(' '));
    const double want = std::strtod(std::string(text).c_str(), nullptr);
    ASSERT_EQ(std::memcmp(&got[r], &want, sizeof(double)), 0)
        << "row " << r << ": \"" << texts[r % n] << "\" read as " << got[r];
  }
}

// A file read in two halves at once: its rows in order, its sampling rate
// from both halves' times, and a code held across the middle one event.
TEST(HeadsetCsv, TheHalvesOfALargeFileJoin) {
  const int rows = 200000;
  std::string csv = "Time,Fz,Marker\n";
  for (int r = 0; r < rows; ++r)
    csv += std::to_string(r * 0.004) + "," + std::to_string(r % 7) + "," +
           (r == rows - 1              ? "3"
            : r >= 50000 && r < 150000 ? "2"
                                       : "0") +
           "\n";
  TempDir dir;
  const auto recording = OpenRecording(Write(dir, "h.csv", csv), {});
  EXPECT_EQ(recording->SamplingRate(), 250);
  ASSERT_EQ(recording->Samples(), rows);
  std::vector<double> got;
  recording->ReadChannel(0, got);
  for (int r = 0; r < rows; ++r) ASSERT_EQ(got[r], r % 7) << "row " << r;
  const std::vector<Event>& events = recording->Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].sample, 50000);
  EXPECT_EQ(events[0].code, "2");
  EXPECT_EQ(events[1].sample, rows - 1);
  EXPECT_EQ(events[1].code, "3");
}

// The marker column is the one whose name starts with "marker" in any case,
// or the one named exactly as given (blanks around the name aside); the
// file is a recording only when it has one. Its first value may be empty.
TEST(HeadsetCsv, ChoosesTheMarkerColumnOverHeaderVariants) {
  const struct {
    const char* header;
    const char* option;
    bool opens;
    const char* says;  // the marker channel's name, or part of the refusal
  } cases[] = {
      {"time,Fz,marker", "", true, "marker"},
      {"TIME,Fz,\"MarkerIndex\"", "", true, "MarkerIndex"},
      {"Time,Fz, Marker ", "", true, "Marker"},
      {"Time,MyMarker,Marker", "", true, "Marker"},
      {"Time,Fz,Trigger", " Trigger ", true, "Trigger"},
      {"Time,Fz,Trigger", "", false, "no column is named Marker...; name the marker column (by its name, or #N for the N-th column) (columns: Time, Fz, Trigger)"},
      {"Time,Fz,Marker", "marker", false, "no column is named \"marker\""},
      {"Time,Marker,MARKER", "", false, "several columns are named Marker..."}};
  TempDir dir;
  for (const auto& c : cases) {
    OpenOptions options;
    options.markerColumn = c.option;
    const std::string path = Csv(dir, c.header);
    EXPECT_EQ(IsRecording(path, options), c.opens) << c.header;
    try {
      const auto recording = OpenRecording(path, options);
      std::string marker;
      for (const Channel& channel : recording->Channels())
        if (!channel.eeg) marker += channel.name;
      EXPECT_TRUE(c.opens) << c.header;
      EXPECT_EQ(marker, c.says) << c.header;
      EXPECT_EQ(recording->Events().size(), 1u) << c.header;
    } catch (const Data::DataError& e) {
      EXPECT_FALSE(c.opens) << c.header << ": " << e.what();
      EXPECT_THAT(e.what(), HasSubstr(c.says));
    }
  }
  const auto emptyFirst = OpenRecording(
      Write(dir, "e.csv", "Time,Fz,Marker\n0,1,\n0.004,2,3\n0.008,3,0\n"), {});
  ASSERT_EQ(emptyFirst->Channels().size(), 2u);
  EXPECT_FALSE(emptyFirst->Channels()[1].eeg);
  ASSERT_EQ(emptyFirst->Events().size(), 1u);
  EXPECT_EQ(emptyFirst->Events()[0].sample, 1);
}

}  // namespace
}  // namespace Korva::Recording
