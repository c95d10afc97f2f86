#include "sources/recordings.h"

#include <sys/stat.h>

#include <cctype>
#include <map>

#include "korva/hostkit/memory_budget.h"
#include "sources/input_digest.h"
#include "sources/source_error.h"

namespace Korva::Sources {
namespace {

// "a", "a, b, c".
std::string Listed(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

}  // namespace

bool IsRecordingPath(const std::string& path,
                     const Recording::OpenOptions& options) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
    return Recording::IsRecording(path, options);
  if (S_ISDIR(info.st_mode)) return IsBidsFolder(path);
  const size_t dot = path.find_last_of("./");
  if (dot == std::string::npos || path[dot] != '.') return false;
  std::string extension = path.substr(dot + 1);
  for (char& c : extension)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == "edf" || extension == "bdf" || extension == "gdf" ||
         extension == "vhdr" || extension == "xdf";
}

namespace {

// Error(kUsage) when `options` are given for a recording that names its own
// sampling rate and markers.
void RefuseCsvOptions(const Recording::Recording& run,
                      const Recording::OpenOptions& options) {
  if (run.Format() == "headset CSV" ||
      (!options.samplingRate && options.markerColumn.empty()))
    return;
  throw Error(ErrorKind::kUsage,
              run.Path() + " is read as " + run.Format() +
                  ", which gives its own sampling rate and markers: a "
                  "sampling rate or a marker column is given only for "
                  "headset CSV files");
}

// Opens the runs of the BIDS folder `folder` that `bids` keeps.
void OpenBidsFolder(const std::string& folder,
                    const Recording::OpenOptions& options,
                    const BidsFilter& bids,
                    OpenedRecordings& opened) {
  const BidsRuns found = FindBidsRuns(folder, bids);
  opened.notes.push_back(folder + ": " + found.note);
  for (const BidsRun& run : found.runs) {
    for (const std::string* file : {&run.events, &run.channels})
      if (!file->empty()) RecordFileDigest(*file);
    opened.runs.push_back(OpenBidsRun(run, options));
    RefuseCsvOptions(*opened.runs.back(), options);
    opened.origins.push_back({run.subject, run.session});
    for (const std::string& note : opened.runs.back()->Notes())
      opened.notes.push_back(run.recording + ": " + note);
  }
}

// What identifies a file: its device and inode, or its path when it cannot
// be looked at.
std::string FileIdentity(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return path;
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

// Error(kUsage) when a file of run `k` is also a file of an earlier run;
// `seen` holds the earlier runs' files by identity.
void RefuseSharedFiles(const OpenedRecordings& opened,
                       size_t k,
                       std::map<std::string, size_t>& seen) {
  const Recording::Recording& run = *opened.runs[k];
  for (const std::string& file : run.Files()) {
    const auto [earlier, added] = seen.emplace(FileIdentity(file), k);
    if (!added && earlier->second != k)
      throw Error(ErrorKind::kUsage,
                  opened.runs[earlier->second]->Path() + " and " + run.Path() +
                      (file == run.Path() ? " are one file"
                                          : " both read " + file) +
                      ": one recording given twice would be used twice");
  }
}

}  // namespace

OpenedRecordings OpenRecordings(const std::vector<std::string>& paths,
                                const Recording::OpenOptions& options,
                                const BidsFilter& bids) {
  OpenedRecordings opened;
  bool folders = false;
  for (const std::string& path : paths) {
    if (IsBidsFolder(path)) {
      OpenBidsFolder(path, options, bids, opened);
      folders = true;
      continue;
    }
    opened.runs.push_back(Recording::OpenRecording(path, options));
    opened.origins.emplace_back();
    RefuseCsvOptions(*opened.runs.back(), options);
    for (const std::string& note : opened.runs.back()->Notes())
      opened.notes.push_back(path + ": " + note);
  }
  if (!bids.Empty() && !folders)
    throw Error(ErrorKind::kUsage,
                "--subject, --session, --task and --run choose the runs of "
                "EEG-BIDS folders, and no recording given is one");
  std::map<std::string, size_t> seen;
  for (size_t k = 0; k < opened.runs.size(); ++k)
    RefuseSharedFiles(opened, k, seen);
  for (const auto& run : opened.runs)
    for (const std::string& file : run->Files()) RecordFileDigest(file);
  return opened;
}

void AddCutNotes(LoadedData& cut) {
  const Epoching::ExtractReport& report = *cut.cut;
  const std::string& first = report.runs.front().path;
  if (!report.leftOut.empty())
    cut.notes.push_back(
        "channels taken by default: the EEG channels of " + first +
        "; not taken as EEG: " + Listed(report.leftOut) +
        " (naming the channels chooses others)");
  cut.data.qualityChecked = true;
  for (const Epoching::RunReport& run : report.runs) {
    for (const std::string& note : run.notes)
      cut.notes.push_back(run.path + ": " + note);
    for (const std::string& warning : run.warnings)
      cut.data.quality.push_back(run.path + ": " + warning);
  }
}

LoadedData Cut(const std::vector<std::string>& paths,
               const Epoching::Recipe& recipe,
               const Recording::OpenOptions& options,
               const BidsFilter& bids,
               bool labelsRequired) {
  if (std::string why = Epoching::CheckRecipe(recipe, labelsRequired);
      !why.empty())
    throw Error(ErrorKind::kUsage, why);
  OpenedRecordings opened = OpenRecordings(paths, options, bids);
  LoadedData cut;
  cut.notes = std::move(opened.notes);
  cut.origins = std::move(opened.origins);
  for (const auto& run : opened.runs) cut.files.push_back(run->Files());
  cut.data = Epoching::ExtractEpochs(
      opened.runs,
      recipe,
      &cut.cut.emplace(),
      labelsRequired,
      [](std::uint64_t bytes, const std::string& what) {
        HostKit::CheckMemoryNeed(bytes, what);
      });
  AddCutNotes(cut);
  return cut;
}

std::optional<Epoching::Recipe> ModelRecipe(const HostKit::TrainedModel& model,
                                            const std::string& what) {
  if (model.Host().recipe.empty()) return std::nullopt;
  try {
    return Epoching::ParseRecipeXml(model.Host().recipe,
                                    model.Host().speller.empty());
  } catch (const Data::DataError& error) {
    throw Error(ErrorKind::kModel, what + ": its " + error.what());
  }
}

}  // namespace Korva::Sources
