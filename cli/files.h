#ifndef KORVA_CLI_FILES_H_
#define KORVA_CLI_FILES_H_

// The files of a command: which are inputs and outputs, where its messages
// go, and the outputs every command writes alike.

#include <iosfwd>
#include <string>
#include <vector>

#include "data/dataset.h"
#include "report/html_report.h"

namespace Korva::Cli {

// One of a command's files: what names it ("--model") and its path ("" when
// not given); outputs must not be any other file of the command.
struct CommandFile {
  std::string role;
  std::string path;
  bool output;
};

// CliError(kExitUsage) when two outputs go to the same descriptor
// (CheckOneOutputPerStream), or when two of the files, one of them an output
// to a file, are the same file: the same device and inode where it exists,
// the same resolved path otherwise.
void CheckDistinctFiles(const std::vector<CommandFile>& files);

// CheckDistinctFiles, then HostKit::CheckWritable for every output given:
// a command refuses its files before any work starts.
void CheckCommandFiles(const std::vector<CommandFile>& files);

// Adds to `files` what each recording read besides itself (`read`, one list
// per recording, its path first: a BrainVision header's data and marker
// files), each an input of the role of the file that names its recording
// ("DATA (read by run.vhdr)"), then CheckDistinctFiles: an output must not
// overwrite them either. For the recordings of a command once they are open.
void AddRecordingFiles(std::vector<CommandFile>& files,
                       const std::vector<std::vector<std::string>>& read);

// Where a command's messages go: nowhere when quiet, standard error when an
// output is written to standard output ("-", /dev/stdout, ...), else
// standard output.
std::ostream* MessageStream(bool quiet,
                            const std::vector<std::string>& outputs);

// The score CSV: "row,label,score" (without label when the data has none;
// "row,recording,label,score" for epochs of recordings, the label empty
// when they have none), one row of `data` per line, numbers in full
// precision.
std::string ScoresCsv(const Data::Dataset& data,
                      const std::vector<double>& scores);

// The weights part of a report: names, weights and flags, one per feature.
void FillWeights(Report::ReportContent& content,
                 const std::vector<std::string>& names,
                 const std::vector<double>& weights,
                 const std::vector<bool>& selected);

// Renders the report and writes it atomically.
void SaveReport(const std::string& path, const Report::ReportContent& content);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_FILES_H_
