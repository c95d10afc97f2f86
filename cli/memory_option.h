#ifndef KORVA_CLI_MEMORY_OPTION_H_
#define KORVA_CLI_MEMORY_OPTION_H_

// --memory-limit: the most memory a training may take
// (HostKit::CheckTrainingMemory), checked from the data's shape before
// training allocates anything; cutting recordings into epochs is held to
// the same limit (HostKit::CheckMemoryNeed).

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>

namespace Korva::Cli {

// SIZE in bytes: a number (decimals allowed) with an optional unit K, M, G
// or T, powers of 1024, which may be followed by "B" or "iB" ("512M",
// "1.5GiB", "4G"); "none" is no limit (HostKit::kNoMemoryLimit). nullopt
// when the text is none of these or the size is 0.
std::optional<std::uint64_t> ParseMemorySize(const std::string& text);

// Adds --memory-limit SIZE to `command`; the text lands in `limit`.
void AddMemoryLimitOption(CLI::App* command, std::string& limit);

// Sets the host kit's limit from the option's text ("": the default), with
// the option named as the way to raise it.
void ApplyMemoryLimit(const std::string& limit);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_MEMORY_OPTION_H_
