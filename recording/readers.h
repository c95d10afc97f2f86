#ifndef KORVA_RECORDING_READERS_H_
#define KORVA_RECORDING_READERS_H_

// The readers behind OpenRecording, one per format. Each opens the file it
// is given as its format, whatever the extension, and throws DataError
// naming the file and what is wrong.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "recording/recording_base.h"

namespace Korva::Recording {

// GDF 1.x and 2.x: every channel at the most common rate, events from the
// event table (codes in decimal).
std::unique_ptr<RecordingBase> OpenGdf(const std::string& path);

// A BrainVision header (.vhdr) with its data and marker files.
std::unique_ptr<RecordingBase> OpenBrainVision(const std::string& path);

// XDF: the EEG stream and the markers of a marker stream placed on its
// samples through the streams' clock offsets (OpenOptions chooses them).
std::unique_ptr<RecordingBase> OpenXdf(const std::string& path,
                                       const OpenOptions& options);

// The CSV file of a headset: a time column, one column per channel and a
// marker column (see OpenOptions).
std::unique_ptr<RecordingBase> OpenHeadsetCsv(const std::string& path,
                                              const OpenOptions& options);

// Whether the header line in `head`, the start of a text file, has a time
// column and a marker column as OpenHeadsetCsv finds them.
struct CsvColumns {
  bool time = false;
  bool marker = false;
};
CsvColumns FindCsvColumns(std::string_view head, const OpenOptions& options);

// Whether `text` starts with the first line of a BrainVision header (`kind`
// "header") or marker file ("marker").
bool StartsLikeBrainVision(std::string_view text, std::string_view kind);

// EDF, EDF+, BDF and BDF+ through the EDF reader library, libkorva_edf.so,
// opened on first use. DataError also when the library cannot be loaded.
std::unique_ptr<RecordingBase> OpenEdf(const std::string& path);

}  // namespace Korva::Recording

// The EDF reader library's entry points. korva_open_edf opens `path` into
// `*out` and returns 0, or returns 1 with the DataError's message (2: another
// exception's) in `error`; korva_read_edf_channel does the same for
// ReadChannel of a recording korva_open_edf gave.
extern "C" int korva_open_edf(const char* path,
                              Korva::Recording::Recording** out,
                              std::string* error);
extern "C" int korva_read_edf_channel(Korva::Recording::Recording* recording,
                                      int channel,
                                      std::vector<double>* out,
                                      std::string* error);

#endif  // KORVA_RECORDING_READERS_H_
