// The recording fuzz targets: each input becomes files in a private folder,
// opened through the data-source layer as korva opens recordings, every
// channel read, then cut into epochs by a small recipe of the events found.
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <set>
#include <string_view>

#include "epoching/epochs.h"
#include "fuzz/harnesses.h"
#include "recording/headset_lines.h"
#include "sources/recordings.h"
#include "sources/source_error.h"
#include "text/utf8.h"

namespace Korva::Fuzz {
namespace {

// What a cut of a fuzz input may take: far more than its files can need.
constexpr std::uint64_t kCutMemory = 256 << 20;

// The folder the inputs are written to, made once per process, in memory
// where the system has a place for it.
const std::string& Folder() {
  static const std::string folder = [] {
    std::string pattern =
        (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
        std::string("/korva-fuzz-XXXXXX");
    const char* made = mkdtemp(pattern.data());
    return made == nullptr ? std::string("/tmp/") : pattern + "/";
  }();
  return folder;
}

std::string Put(const std::string& name, std::string_view bytes) {
  const std::string path = Folder() + name;
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

// "" when every name can be kept by a recipe: not empty, no control
// character, none twice.
std::string CheckNames(const std::vector<Recording::Channel>& channels) {
  std::set<std::string> seen;
  for (const Recording::Channel& channel : channels)
    if (channel.name.empty() ||
        Text::FirstControlCharacter(channel.name).has_value() ||
        !seen.insert(channel.name).second)
      return "a channel name a recipe cannot keep: \"" + channel.name + "\"";
  return {};
}

// The promises of an opened recording: a rate korva reads, samples, usable
// channel names, its own path first among its files, events in order inside
// it, and every channel read whole and finite (or refused naming the file).
std::string CheckRecording(Recording::Recording& r, const std::string& path) {
  if (!(r.SamplingRate() >= Recording::kMinSamplingRate &&
        r.SamplingRate() <= Recording::kMaxSamplingRate))
    return "a sampling rate outside the rates korva reads";
  if (r.Samples() <= 0 || r.Channels().empty())
    return "no samples or no channels";
  if (r.Files().empty() || r.Files().front() != path)
    return "the recording's files do not start with its path";
  if (std::string names = CheckNames(r.Channels()); !names.empty())
    return names;
  long long previous = 0;
  for (const Recording::Event& event : r.Events()) {
    if (event.sample < previous || event.sample >= r.Samples())
      return "an event out of order or outside the recording";
    previous = event.sample;
  }
  std::vector<double> samples;
  for (size_t c = 0; c < r.Channels().size(); ++c) {
    try {
      r.ReadChannel(static_cast<int>(c), samples);
    } catch (const Data::DataError& error) {
      if (std::string_view(error.what()).rfind(path + ": ", 0) != 0)
        return std::string("a channel's refusal does not name the file: ") +
               error.what();
      return {};
    }
    if (samples.size() != static_cast<size_t>(r.Samples()) ||
        !std::all_of(samples.begin(), samples.end(), [](double v) {
          return std::isfinite(v);
        }))
      return "a channel read is not every sample, finite";
  }
  return {};
}

// A recipe of the first two event codes that do not match each other, no
// filter and a window of a few samples; nothing when there are none.
std::optional<Epoching::Recipe> SmallRecipe(const Recording::Recording& r) {
  std::vector<std::string> codes;
  for (const Recording::Event& event : r.Events()) {
    if (!codes.empty() && Epoching::EventMatches(codes[0], event.code))
      continue;
    codes.push_back(event.code);
    if (codes.size() == 2) break;
  }
  if (codes.size() < 2) return std::nullopt;
  Epoching::Recipe recipe;
  recipe.targets = {codes[0]};
  recipe.nonTargets = {codes[1]};
  recipe.band.reset();
  recipe.windowEndMs = 4000.0 / r.SamplingRate();
  recipe.bins = 2;
  if (!Epoching::CheckRecipe(recipe).empty()) return std::nullopt;
  return recipe;
}

// The epochs of `r` by SmallRecipe: refused naming what, or rows of finite
// features labelled +1 and -1.
std::string CheckCut(std::vector<std::unique_ptr<Recording::Recording>>& runs) {
  const auto recipe = SmallRecipe(*runs[0]);
  if (!recipe) return {};
  try {
    const Data::Dataset data = Epoching::ExtractEpochs(
        runs, *recipe, nullptr, [](std::uint64_t bytes, const std::string&) {
          if (bytes > kCutMemory) throw Data::DataError("too much memory");
        });
    if (data.rows <= 0 || data.X.size() != static_cast<size_t>(data.rows) *
                                               data.cols)
      return "a cut is not rows x columns values";
    for (double v : data.X)
      if (!std::isfinite(v)) return "a cut holds a feature that is not finite";
    for (double label : data.labels)
      if (label != 1 && label != -1) return "a label of a cut is not +1 or -1";
  } catch (const Data::DataError&) {
  }
  return {};
}

// Opens the recording at `path` as korva does and checks it and its cut;
// refusals must name the file.
std::string OpenAndCheck(const std::string& path,
                         const Recording::OpenOptions& options) {
  Sources::OpenedRecordings opened;
  try {
    opened = Sources::OpenRecordings({path}, options);
  } catch (const Data::DataError& error) {
    // "r.csv: ...", or "r.csv, line 3: ..." in the words of the CSV reader.
    const std::string_view what = error.what();
    return what.rfind(path + ": ", 0) == 0 || what.rfind(path + ", line ", 0) == 0
               ? ""
               : std::string("a refusal does not name the file: ") +
                     error.what();
  } catch (const Sources::Error& error) {
    return std::string_view(error.what()).rfind(path + " ", 0) == 0
               ? ""
               : std::string("a refusal does not name the file: ") +
                     error.what();
  }
  if (std::string problem = CheckRecording(*opened.runs[0], path);
      !problem.empty())
    return problem;
  return CheckCut(opened.runs);
}

// The input up to the first `separator`, which is taken off with it; the
// whole input when there is none.
std::string_view TakePart(std::string_view& input, std::string_view separator) {
  const size_t at = input.find(separator);
  const std::string_view part = input.substr(0, at);
  input.remove_prefix(at == std::string_view::npos ? input.size()
                                                   : at + separator.size());
  return part;
}

std::string_view AsText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The file reader's reading of the text the lines gave: the same channels,
// samples and events, when it reads it too.
std::string CompareWithFile(const std::string& text,
                            const Recording::HeadsetLines& lines,
                            const std::vector<std::vector<double>>& rows,
                            const std::vector<Recording::Event>& events,
                            Recording::OpenOptions options) {
  options.samplingRate = 100;
  const std::string path = Put("lines.csv", text);
  std::unique_ptr<Recording::Recording> file;
  try {
    file = std::move(Sources::OpenRecordings({path}, options).runs[0]);
  } catch (const std::exception&) {
    return {};  // the file reader asks more: a time column that holds
  }
  const auto& channels = lines.Channels();
  if (file->Channels().size() != channels.size() ||
      file->Samples() != static_cast<long long>(rows.size()))
    return "the file reader finds other channels or rows than the lines";
  std::vector<double> samples;
  for (size_t c = 0; c < channels.size(); ++c) {
    if (file->Channels()[c].name != channels[c].name)
      return "the file reader names channel " + std::to_string(c + 1) + " \"" +
             file->Channels()[c].name + "\", the lines \"" + channels[c].name +
             "\"";
    file->ReadChannel(static_cast<int>(c), samples);
    for (size_t i = 0; i < rows.size(); ++i)
      if (samples[i] != rows[i][c])
        return "the file reader reads another value in row " +
               std::to_string(i + 1);
  }
  const auto& fileEvents = file->Events();
  if (fileEvents.size() != events.size() ||
      !std::equal(events.begin(),
                  events.end(),
                  fileEvents.begin(),
                  [](const Recording::Event& a, const Recording::Event& b) {
                    return a.sample == b.sample && a.code == b.code;
                  }))
    return "the file reader finds other events than the lines";
  return {};
}

// A row as Take gave it: a value per channel, finite, and an event only
// at this row with a code.
std::string CheckRow(const Recording::HeadsetLines& lines,
                     const std::vector<double>& row,
                     const std::optional<Recording::Event>& event) {
  if (row.size() != lines.Channels().size() || row.empty())
    return "a row without a value per channel";
  if (!std::all_of(
          row.begin(), row.end(), [](double v) { return std::isfinite(v); }))
    return "a row with a value that is not finite";
  if (event && (event->sample != lines.Rows() - 1 || event->code.empty()))
    return "an event not at its row, or without a code";
  return {};
}

}  // namespace

std::string FuzzBrainVision(const std::uint8_t* data, std::size_t size) {
  std::string_view input = AsText(data, size);
  const std::string header = Put("r.vhdr", TakePart(input, "\n--\n"));
  Put("r.vmrk", TakePart(input, "\n--\n"));
  Put("r.eeg", input);
  return OpenAndCheck(header, {});
}

std::string FuzzGdf(const std::uint8_t* data, std::size_t size) {
  return OpenAndCheck(Put("r.gdf", AsText(data, size)), {});
}

std::string FuzzEdf(const std::uint8_t* data, std::size_t size) {
  // The name says BDF when the content does: a note, never a refusal.
  const bool bdf = size > 0 && data[0] == 0xff;
  return OpenAndCheck(Put(bdf ? "r.bdf" : "r.edf", AsText(data, size)), {});
}

std::string FuzzXdf(const std::uint8_t* data, std::size_t size) {
  // The magic number is given: the fuzzer spends its time on the chunks.
  return OpenAndCheck(Put("r.xdf", "XDF:" + std::string(AsText(data, size))),
                      {});
}

std::string FuzzHeadsetCsv(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  Recording::OpenOptions options;
  if (data[0] & 1) options.samplingRate = 100 + ((data[0] >> 1) & 0x3f) * 4;
  if (data[0] & 0x80) options.markerColumn = "Trigger";
  return OpenAndCheck(Put("r.csv", AsText(data + 1, size - 1)), options);
}

std::string FuzzHeadsetLines(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  Recording::OpenOptions options;
  if (data[0] & 0x80) options.markerColumn = "Trigger";
  std::string_view input = AsText(data + 1, size - 1);
  const std::string text(input);
  Recording::HeadsetLines lines("standard input", options);
  std::vector<double> row;
  std::optional<Recording::Event> event;
  std::vector<std::vector<double>> rows;
  std::vector<Recording::Event> events;
  bool headed = false;
  while (!input.empty()) {
    const std::string_view line = TakePart(input, "\n");
    Recording::HeadsetLines::Line kind;
    try {
      kind = lines.Take(line, row, event);
    } catch (const Data::DataError& error) {
      return std::string_view(error.what()).rfind("standard input: ", 0) == 0
                 ? ""
                 : std::string("a refusal does not name the input: ") +
                       error.what();
    }
    using Line = Recording::HeadsetLines::Line;
    if (kind == Line::kHeader && headed) return "a second header";
    if (kind == Line::kRow && !headed) return "a row before the header";
    headed = headed || kind == Line::kHeader;
    if (kind != Line::kRow) continue;
    if (std::string problem = CheckRow(lines, row, event); !problem.empty())
      return problem;
    rows.push_back(row);
    if (event) events.push_back(*event);
  }
  if (rows.empty()) return {};
  if (std::string names = CheckNames(lines.Channels()); !names.empty())
    return names;
  return CompareWithFile(text, lines, rows, events, options);
}

}  // namespace Korva::Fuzz
