#ifndef KORVA_HOSTKIT_OUTPUT_STREAM_H_
#define KORVA_HOSTKIT_OUTPUT_STREAM_H_

#include <optional>
#include <string>

#include "korva/export.h"

namespace Korva::HostKit {

// The open descriptor that an output path names, which is written through,
// never replaced: 1 for "-"; N for /dev/fd/N and /proc/self/fd/N, also when
// reached through links (/dev/stdout, /dev/stderr) or another spelling of
// this process's descriptor folder. nullopt for every other path. Following
// such a path to the file behind the descriptor and renaming a new file over
// it would drop what the shell appended there before and after.
KORVA_HOSTKIT_API std::optional<int> OutputDescriptor(const std::string& path);

// How messages call descriptor `fd`: "standard output", "standard error",
// "descriptor N".
KORVA_HOSTKIT_API std::string DescriptorName(int fd);

}  // namespace Korva::HostKit

#endif  // KORVA_HOSTKIT_OUTPUT_STREAM_H_
