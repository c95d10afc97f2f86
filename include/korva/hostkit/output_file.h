#ifndef KORVA_HOSTKIT_OUTPUT_FILE_H_
#define KORVA_HOSTKIT_OUTPUT_FILE_H_

#include <functional>
#include <string>

#include "korva/export.h"

namespace Korva::HostKit {

// Replaces the file at `path` as one step, so it holds either its old content
// or the whole new one: `write` fills a new temporary file in the same folder
// (its path is passed in), which is then flushed to disk and renamed over
// `path`, keeping the mode of the file it replaces. A symbolic link is
// written through (its target is replaced, the link kept); a device or a
// FIFO is written in place, never replaced; a path that names an open
// descriptor ("-" for standard output, /dev/stdout, /dev/fd/N: see
// OutputDescriptor) is written through that descriptor. An
// interrupt (SIGINT, SIGTERM, SIGHUP) during the write removes the temporary
// file. Throws Error(kOutput) when the file cannot be created, written or
// renamed, and passes on what `write` throws; the temporary file is removed
// and `path` is left as it was in both cases.
KORVA_HOSTKIT_API void WriteAtomically(
    const std::string& path,
    const std::function<void(const std::string& tempPath)>& write);

// Throws the Error(kOutput) that WriteAtomically(path) would, when `path` is a
// folder or its folder is missing or not writable; lets a command refuse
// before it spends time on work whose result it could not save.
KORVA_HOSTKIT_API void CheckWritable(const std::string& path);

// WriteAtomically with `text` as the whole content.
KORVA_HOSTKIT_API void WriteTextAtomically(const std::string& path,
                                           const std::string& text);

// Creates `path` and its missing parents as folders. Throws Error(kOutput).
KORVA_HOSTKIT_API void MakeDirectories(const std::string& path);

}  // namespace Korva::HostKit

#endif  // KORVA_HOSTKIT_OUTPUT_FILE_H_
