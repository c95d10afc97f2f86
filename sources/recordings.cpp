#include "sources/recordings.h"

#include <sys/stat.h>

#include <cctype>

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

// Opens the runs of the BIDS folder `folder` that `bids` keeps.
void OpenBidsFolder(const std::string& folder,
                    const Recording::OpenOptions& options,
                    const BidsFilter& bids,
                    OpenedRecordings& opened) {
  const BidsRuns found = FindBidsRuns(folder, bids);
  opened.notes.push_back(folder + ": " + found.note);
  for (const BidsRun& run : found.runs) {
    for (const std::string* file : {&run.recording, &run.events, &run.channels})
      if (!file->empty()) RecordFileDigest(*file);
    opened.runs.push_back(OpenBidsRun(run, options));
    opened.origins.push_back({run.subject, run.session});
    for (const std::string& note : opened.runs.back()->Notes())
      opened.notes.push_back(run.recording + ": " + note);
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
    RecordFileDigest(path);
    opened.runs.push_back(Recording::OpenRecording(path, options));
    opened.origins.emplace_back();
    for (const std::string& note : opened.runs.back()->Notes())
      opened.notes.push_back(path + ": " + note);
  }
  if (!bids.Empty() && !folders)
    throw Error(ErrorKind::kUsage,
                "--subject, --session, --task and --run choose the runs of "
                "EEG-BIDS folders, and no recording given is one");
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
  cut.data = Epoching::ExtractEpochs(
      opened.runs, recipe, &cut.cut.emplace(), labelsRequired);
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
