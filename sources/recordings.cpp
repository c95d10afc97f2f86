#include "sources/recordings.h"

#include <sys/stat.h>

#include <cctype>

#include "sources/source_error.h"

namespace Korva::Sources {

bool IsRecordingPath(const std::string& path,
                     const Recording::OpenOptions& options) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
    return Recording::IsRecording(path, options);
  const size_t dot = path.find_last_of("./");
  if (dot == std::string::npos || path[dot] != '.') return false;
  std::string extension = path.substr(dot + 1);
  for (char& c : extension)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == "edf" || extension == "bdf" || extension == "gdf" ||
         extension == "vhdr";
}

OpenedRecordings OpenRecordings(const std::vector<std::string>& paths,
                                const Recording::OpenOptions& options) {
  OpenedRecordings opened;
  for (const std::string& path : paths) {
    opened.runs.push_back(Recording::OpenRecording(path, options));
    for (const std::string& note : opened.runs.back()->Notes())
      opened.notes.push_back(path + ": " + note);
  }
  return opened;
}

LoadedData Cut(const std::vector<std::string>& paths,
               const Epoching::Recipe& recipe,
               const Recording::OpenOptions& options,
               bool labelsRequired) {
  if (std::string why = Epoching::CheckRecipe(recipe); !why.empty())
    throw Error(ErrorKind::kUsage, why);
  OpenedRecordings opened = OpenRecordings(paths, options);
  LoadedData cut;
  cut.notes = std::move(opened.notes);
  cut.data = Epoching::ExtractEpochs(
      opened.runs, recipe, &cut.cut.emplace(), labelsRequired);
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
