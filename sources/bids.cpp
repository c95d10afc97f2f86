#include "sources/bids.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <tuple>
#include <utility>

#include "data/dataset.h"
#include "recording/binary_file.h"
#include "recording/recording_base.h"

namespace Korva::Sources {
namespace {

namespace fs = std::filesystem;

// Larger than any events or channels file; a larger one is refused unread.
constexpr std::uint64_t kMaxSidecarBytes = 64 << 20;
// Root, subject, session, eeg: no deeper folder holds a recording.
constexpr int kMaxDepth = 3;

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Fills the entities of `run` from a recording's file name
// "sub-01[_ses-1]_task-x[_acq-y][_run-2]_eeg.vhdr" (or .edf, .bdf); false
// for any other name.
bool ParseName(const std::string& name, BidsRun& run) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string ext = name.substr(dot + 1);
  if ((ext != "vhdr" && ext != "edf" && ext != "bdf") || dot < 4 ||
      name.compare(dot - 4, 4, "_eeg") != 0 || !StartsWith(name, "sub-"))
    return false;
  const std::map<std::string, std::string*> keys = {{"sub", &run.subject},
                                                    {"ses", &run.session},
                                                    {"task", &run.task},
                                                    {"run", &run.run}};
  for (size_t at = 0; at < dot - 4;) {
    const size_t end = std::min(name.find('_', at), dot - 4);
    const std::string part = name.substr(at, end - at);
    const size_t dash = part.find('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 == part.size())
      return false;
    if (const auto key = keys.find(part.substr(0, dash)); key != keys.end())
      *key->second = part.substr(dash + 1);
    at = end + 1;
  }
  return true;
}

// The sidecar `suffix` ("_events.tsv") of `recording`, or "" when there is
// none beside it.
std::string Sidecar(const fs::path& recording, const std::string& suffix) {
  const std::string name = recording.filename().string();
  const fs::path sidecar =
      recording.parent_path() / (name.substr(0, name.rfind("_eeg.")) + suffix);
  std::error_code error;
  return fs::is_regular_file(sidecar, error) ? sidecar.string() : "";
}

// The name of `dir` itself, also for "." or a path ending in "/".
std::string FolderName(const fs::path& dir) {
  std::error_code error;
  const fs::path real = fs::weakly_canonical(fs::absolute(dir, error), error);
  return real.filename().string();
}

// Every recording of a run below `dir`, `depth` folders below the folder
// given.
void Collect(const fs::path& dir, int depth, std::vector<BidsRun>& found) {
  std::error_code error;
  const bool eeg = FolderName(dir) == "eeg";
  for (fs::directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    BidsRun run;
    if (it->is_directory(error) && depth < kMaxDepth &&
        (StartsWith(name, "sub-") || StartsWith(name, "ses-") ||
         name == "eeg")) {
      Collect(it->path(), depth + 1, found);
    } else if (eeg && it->is_regular_file(error) && ParseName(name, run)) {
      run.recording = it->path().string();
      run.events = Sidecar(it->path(), "_events.tsv");
      run.channels = Sidecar(it->path(), "_channels.tsv");
      found.push_back(std::move(run));
    }
  }
}

// A label of the filter without its entity's prefix; a run's index as a
// number.
std::string Label(const std::string& text, const std::string& prefix) {
  std::string label = StartsWith(text, prefix) ? text.substr(prefix.size()) : text;
  if (prefix == "run-" && !label.empty() &&
      label.find_first_not_of("0123456789") == std::string::npos) {
    label.erase(0, std::min(label.find_first_not_of('0'), label.size() - 1));
  }
  return label;
}

bool Keeps(const std::vector<std::string>& list,
           const std::string& prefix,
           const std::string& label) {
  return list.empty() ||
         std::any_of(list.begin(), list.end(), [&](const std::string& entry) {
           return Label(entry, prefix) == Label(label, prefix);
         });
}

// "subjects 01, 02; sessions 1; task p300" of `runs`.
std::string Entities(const std::vector<BidsRun>& runs) {
  std::string text;
  for (const auto& [name, label] :
       {std::pair{"subject", &BidsRun::subject}, {"session", &BidsRun::session},
        {"task", &BidsRun::task}, {"run", &BidsRun::run}}) {
    std::set<std::string> labels;
    for (const BidsRun& run : runs)
      if (!(run.*label).empty()) labels.insert(run.*label);
    if (labels.empty()) continue;
    text += std::string(text.empty() ? "" : "; ") + name +
            (labels.size() > 1 ? "s" : "");
    const char* glue = " ";
    for (const std::string& l : labels) text += std::exchange(glue, ", ") + l;
  }
  return text;
}

// The text of a sidecar file; DataError when it is too large to be one.
std::string ReadSidecar(const std::string& path) {
  const Recording::BinaryFile file(path);
  if (file.Size() > kMaxSidecarBytes)
    Recording::Fail(path, std::to_string(file.Size()) +
                              " bytes, more than a sidecar file of " +
                              std::to_string(kMaxSidecarBytes) +
                              " bytes may have");
  return file.ReadUpTo(0, file.Size());
}

// A recording with what its sidecar files say in place of its own events
// and channel types.
class BidsRecording : public Korva::Recording::RecordingBase {
 public:
  explicit BidsRecording(std::unique_ptr<Korva::Recording::Recording> inner)
      : RecordingBase({inner->Path(),
                       inner->Format(),
                       inner->SamplingRate(),
                       inner->Samples(),
                       inner->Channels(),
                       inner->Events(),
                       inner->Notes()}),
        inner_(std::move(inner)) {}

  void ReadChannel(int c, std::vector<double>& out) override {
    inner_->ReadChannel(c, out);
  }

  void TakeEvents(const std::string& path) {
    const size_t own = header_.events.size();
    header_.events = ParseEventsTsv(
        ReadSidecar(path), header_.samplingRate, path, header_.notes);
    header_.notes.push_back(
        std::to_string(header_.events.size()) + " events from " +
        fs::path(path).filename().string() + " in place of its own " +
        std::to_string(own));
    Korva::Recording::SettleEvents(header_);
  }

  void TakeChannels(const std::string& path) {
    std::vector<std::string> unknown, bad;
    for (const ChannelRow& row : ParseChannelsTsv(ReadSidecar(path), path)) {
      const auto channel = std::find_if(
          header_.channels.begin(),
          header_.channels.end(),
          [&](const Korva::Recording::Channel& c) { return c.name == row.name; });
      if (channel == header_.channels.end()) {
        unknown.push_back(row.name);
        continue;
      }
      channel->type = row.type;
      channel->eeg = row.type == "EEG" && !row.bad;
      if (row.bad) bad.push_back(row.name);
    }
    const std::string file = fs::path(path).filename().string();
    for (const auto& [names, what] :
         {std::pair{&bad, " marked bad (not taken as EEG): "},
          {&unknown, " not in the recording: "}}) {
      std::string list;
      for (const std::string& name : *names) list += (list.empty() ? "" : ", ") + name;
      if (!list.empty()) header_.notes.push_back("channels of " + file + what + list);
    }
  }

 private:
  std::unique_ptr<Korva::Recording::Recording> inner_;
};

}  // namespace

bool BidsFilter::Empty() const {
  return subjects.empty() && sessions.empty() && tasks.empty() && runs.empty();
}

bool IsBidsFolder(const std::string& path) {
  std::error_code error;
  if (!fs::is_directory(path, error)) return false;
  std::vector<BidsRun> found;
  Collect(path, 0, found);
  return !found.empty();
}

BidsRuns FindBidsRuns(const std::string& folder, const BidsFilter& filter) {
  std::vector<BidsRun> all;
  Collect(folder, 0, all);
  if (all.empty())
    Recording::Fail(folder, "no EEG-BIDS recording (*_eeg.vhdr, .edf or .bdf "
                            "in an eeg folder) below it");
  const auto order = [](const BidsRun& a, const BidsRun& b) {
    const auto key = [](const BidsRun& r) {
      return std::tuple(r.subject, r.session, r.task,
                        Label(r.run, "run-").size(), Label(r.run, "run-"),
                        r.recording);
    };
    return key(a) < key(b);
  };
  std::sort(all.begin(), all.end(), order);
  BidsRuns kept;
  for (const BidsRun& run : all)
    if (Keeps(filter.subjects, "sub-", run.subject) &&
        Keeps(filter.sessions, "ses-", run.session) &&
        Keeps(filter.tasks, "task-", run.task) &&
        Keeps(filter.runs, "run-", run.run))
      kept.runs.push_back(run);
  const std::string count = std::to_string(all.size()) + " EEG run" +
                            (all.size() == 1 ? "" : "s");
  if (kept.runs.empty())
    Recording::Fail(folder, "none of its " + count + " (" + Entities(all) +
                                ") is of the --subject, --session, --task "
                                "and --run given");
  kept.note = "EEG-BIDS: took " +
              (kept.runs.size() == all.size()
                   ? "its " + count
                   : std::to_string(kept.runs.size()) + " of its " + count) +
              " (" + Entities(kept.runs) + ")";
  return kept;
}

std::unique_ptr<Recording::Recording> OpenBidsRun(
    const BidsRun& run,
    const Recording::OpenOptions& options) {
  auto recording = std::make_unique<BidsRecording>(
      Recording::OpenRecording(run.recording, options));
  if (run.events.empty())
    recording->AddNote("no events file beside it: its own events are read");
  else
    recording->TakeEvents(run.events);
  if (!run.channels.empty()) recording->TakeChannels(run.channels);
  return recording;
}

}  // namespace Korva::Sources
