#ifndef KORVA_FUZZ_HARNESSES_H_
#define KORVA_FUZZ_HARNESSES_H_

#include <cstddef>
#include <cstdint>
#include <string>

// What each fuzz target does with one input. Each returns "" when every check
// held and otherwise says what failed; a crash, a leak or undefined behaviour
// is caught by the sanitizers instead. The regression tests replay the kept
// inputs through the same functions.
namespace Korva::Fuzz {

// Parses the bytes as XML (a partial tree is used too) and reads it into a
// fresh DOZOD with Read, then exercises the classifier.
std::string FuzzDocument(const std::uint8_t* data, std::size_t size);

// Parses the bytes as XML and hands its document element to ReadClassifier,
// ReadCfg and ReadInfo of one fresh DOZOD, then exercises the classifier.
std::string FuzzSections(const std::uint8_t* data, std::size_t size);

// First byte: options (bit 0: label column required; bits 1-2: threads - 1);
// the rest is CSV text. Checks the data set's shape, or that a refusal is a
// DataError that names the file.
std::string FuzzCsv(const std::uint8_t* data, std::size_t size);

// The same input format. Repeats the body of the text past the size at which
// the reader splits the work across threads and parses it with one and with
// three threads: data and messages must be the same. Too slow for fuzzing (a
// megabyte per input); the regression tests run it on every kept CSV input.
std::string CompareCsvThreads(const std::uint8_t* data, std::size_t size);

// Writes the bytes to a file in memory and reads it with ReadMat as a MATLAB
// file, features X and labels y, once without and once with the names N.
// Checks the data set's shape, or that a refusal is a DataError that names
// the file; reading the names may add a refusal but changes no value.
std::string FuzzMat(const std::uint8_t* data, std::size_t size);

// Decodes a tiny training set (up to 10 rows and 6 columns of arbitrary
// doubles, labels of any value), p-range, iteration limit and feature names;
// trains with a progress object, then again without one, and compares;
// exercises the trained classifier.
std::string FuzzTraining(const std::uint8_t* data, std::size_t size);

// Decodes a report (title, facts, up to three ROC curves, scores and labels
// of special values, ulp neighbours or any bits, features with names of any
// bytes, weights and flags) and renders it. The page must be valid UTF-8
// without control characters but tab and line feed, each of its three plots
// or more well-formed XML, and its size within a bound proportional to the
// input.
std::string FuzzReport(const std::uint8_t* data, std::size_t size);

// The recording targets write the input to files in a private folder and
// open them through the data-source layer as korva does (Sources::
// OpenRecordings), read every channel and cut epochs by a small recipe of the
// first two event codes. A refusal must name the file; an opened recording
// must have a rate korva reads, channel names a recipe can keep, its own path
// first among its files, its events in order inside it and every sample
// finite; a cut must be finite features labelled +1 and -1.
//
// FuzzBrainVision: the header, the marker file and the data file, separated
// by a line "--" (the header of the seeds names r.vmrk and r.eeg).
std::string FuzzBrainVision(const std::uint8_t* data, std::size_t size);
// FuzzGdf: the bytes as a GDF file.
std::string FuzzGdf(const std::uint8_t* data, std::size_t size);
// FuzzEdf: the bytes as an EDF or BDF file, through the EDF reader library.
std::string FuzzEdf(const std::uint8_t* data, std::size_t size);
// FuzzHeadsetCsv: first byte: bit 0 a sampling rate given (100 Hz plus 4
// times bits 1-6), bit 7 the marker column named "Trigger"; the rest is the
// CSV text.
std::string FuzzHeadsetCsv(const std::uint8_t* data, std::size_t size);
// FuzzHeadsetLines: first byte: bit 7 the marker column named "Trigger";
// the rest is headset CSV text given line by line to
// Recording::HeadsetLines, as korva stream reads standard input. A refusal
// must name the input and its line; otherwise one header before any row,
// rows of a finite value per channel, events at their rows with a code,
// channel names a recipe can keep, and, when the file reader reads the same
// text at a given rate, its channels, samples and events.
std::string FuzzHeadsetLines(const std::uint8_t* data, std::size_t size);
// FuzzXdf: "XDF:" and the bytes as an XDF file (the default streams).
std::string FuzzXdf(const std::uint8_t* data, std::size_t size);

// Parses the bytes as the <Recipe> element of a classifier document
// (Epoching::ParseRecipeXml). A refusal must say "recipe: "; a recipe read
// must keep its rules (CheckRecipe), be written and read back the same, give
// windows of whole bins at its own rate and at the slowest, a common and the
// fastest rate a recording may have (or refuse them), and its text.
std::string FuzzRecipe(const std::uint8_t* data, std::size_t size);

// First byte: options (bit 0: a layout table, else a matrix; bits 1-3: the
// stopping level; bits 4-7: the score model's slope). Reads the layout (a
// matrix of the next two bytes' size, or the text up to a NUL as a table),
// checks that its model element and table text read back as the same
// layout, then decodes a session of the remaining bytes (code and score per
// flash). Refusals must be the speller's data or settings errors with a
// message; a decoding must have its curve, rankings first best, posteriors
// and accuracies within 0 .. 1 and bits within 0 .. log2 N.
std::string FuzzSpeller(const std::uint8_t* data, std::size_t size);

// First byte: bit 0 set reads the rest as a BIDS channels file, else as an
// events file at 1 + (byte >> 1) Hz. Checks that every event has a code and
// no text is longer than twice the file (as UTF-8, a Latin-1 byte takes
// two), or that a refusal is a DataError that names the file.
std::string FuzzBidsTsv(const std::uint8_t* data, std::size_t size);

// One reply of a FieldTrip buffer as the client meets it. First byte: bits
// 0-1 the reply expected (header, data, events, words), bit 2 three words
// rather than two; the next two bytes (little-endian) the channels the data
// must have; then a message head and its payload. Only FieldTrip::Error
// (malformed) may refuse it; a header's names must match its channels and
// its type be defined, data must be rows x channels finite values, and what
// was decoded must read back the same after encoding, in both byte orders.
std::string FuzzFieldTrip(const std::uint8_t* data, std::size_t size);

}  // namespace Korva::Fuzz

#endif  // KORVA_FUZZ_HARNESSES_H_
