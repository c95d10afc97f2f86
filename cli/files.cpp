#include "cli/files.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "cli/exit_status.h"
#include "cli/output_streams.h"
#include "data/csv_write.h"
#include "korva/hostkit/output_file.h"
#include "sources/recordings.h"
#include "text/number_text.h"

namespace Korva::Cli {
namespace {

// What identifies a file: device and inode when it exists, else its path
// with the links and dots of its folder resolved.
std::string FileIdentity(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0)
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
  std::error_code error;
  return std::filesystem::weakly_canonical(std::filesystem::absolute(path),
                                           error)
      .string();
}

}  // namespace

void CheckDistinctFiles(const std::vector<CommandFile>& files) {
  CheckOneOutputPerStream(files);
  // An output to a descriptor is not a file that could be overwritten.
  const auto stream = [](const CommandFile& f) {
    return f.path == "-" || (f.output && WritesDescriptor(f.path));
  };
  for (size_t a = 0; a < files.size(); ++a) {
    for (size_t b = a + 1; b < files.size(); ++b) {
      const CommandFile& x = files[a];
      const CommandFile& y = files[b];
      if (x.path.empty() || y.path.empty() || stream(x) || stream(y) ||
          !(x.output || y.output))
        continue;
      if (FileIdentity(x.path) == FileIdentity(y.path))
        throw CliError(kExitUsage,
                       x.role + " and " + y.role +
                           " name the same file (" + y.path +
                           "); an output would overwrite it");
    }
  }
}

void AddRecordingFiles(std::vector<CommandFile>& files,
                       const std::vector<std::vector<std::string>>& read) {
  for (const std::vector<std::string>& recording : read) {
    const auto named = std::find_if(
        files.begin(), files.end(), [&](const CommandFile& f) {
          return !f.output && f.path == recording.front();
        });
    const std::string role =
        (named == files.end() ? std::string("RECORDING") : named->role) +
        " (read by " + recording.front() + ")";
    for (size_t i = 1; i < recording.size(); ++i)
      files.push_back({role, recording[i], false});
  }
  CheckDistinctFiles(files);
}

void CheckCommandFiles(const std::vector<CommandFile>& files) {
  CheckDistinctFiles(files);
  for (const CommandFile& file : files)
    if (file.output && !file.path.empty()) HostKit::CheckWritable(file.path);
}

std::ostream* MessageStream(bool quiet,
                            const std::vector<std::string>& outputs) {
  if (quiet) return nullptr;
  return std::any_of(outputs.begin(), outputs.end(), WritesStandardOutput)
             ? &std::cerr
             : &std::cout;
}

std::string ScoresCsv(const Data::Dataset& data,
                      const std::vector<double>& scores) {
  const bool recordings = data.groupColumn == Sources::kRecordingGroups;
  // Recordings always have the column, empty where their events carry no
  // labels, so that scores of a session read alike before and after it is
  // labelled.
  const bool labelColumn = data.hasLabels || recordings;
  std::string csv = std::string("row,") + (recordings ? "recording," : "") +
                    (labelColumn ? "label,score\n" : "score\n");
  for (size_t r = 0; r < scores.size(); ++r)
    csv += std::to_string(r + 1) + "," +
           (recordings ? Data::CsvField(data.groupNames[data.groups[r]]) + ","
                       : "") +
           (data.hasLabels ? Text::FormatDouble(data.labels[r]) + ","
            : labelColumn  ? ","
                           : "") +
           Text::FormatDouble(scores[r]) + "\n";
  return csv;
}

void FillWeights(Report::ReportContent& content,
                 const std::vector<std::string>& names,
                 const std::vector<double>& weights,
                 const std::vector<bool>& selected) {
  content.names = names;
  content.names.resize(weights.size());
  content.weights = weights;
  content.selected = selected;
}

void SaveReport(const std::string& path, const Report::ReportContent& content) {
  HostKit::WriteTextAtomically(path, Report::RenderReport(content));
}

}  // namespace Korva::Cli
