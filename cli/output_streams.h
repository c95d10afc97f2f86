#ifndef KORVA_CLI_OUTPUT_STREAMS_H_
#define KORVA_CLI_OUTPUT_STREAMS_H_

// Outputs that go to an open descriptor (standard output or error, named
// "-", /dev/stdout, /dev/fd/N: HostKit::OutputDescriptor) rather than to a
// file, and the standard descriptors themselves.

#include <string>
#include <vector>

#include "cli/files.h"

namespace Korva::Cli {

// Keeps descriptors 0, 1 and 2 taken for the whole run. One that is closed
// at start is opened on /dev/null, for reading only where korva writes (1,
// 2) and for writing only where it reads (0): using it fails as using the
// closed one would (an output there ends with the output status), and no
// file korva opens later gets its number, which would send what korva means
// for standard output into that file.
void ReserveStandardDescriptors();

// True when the output `path` goes to standard output.
bool WritesStandardOutput(const std::string& path);

// True when the output `path` goes to an open descriptor, not a file.
bool WritesDescriptor(const std::string& path);

// CliError(kExitUsage) when two outputs of `files` go to the same
// descriptor: their texts would run together there.
void CheckOneOutputPerStream(const std::vector<CommandFile>& files);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_OUTPUT_STREAMS_H_
