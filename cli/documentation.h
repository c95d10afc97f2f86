#ifndef KORVA_CLI_DOCUMENTATION_H_
#define KORVA_CLI_DOCUMENTATION_H_

// The manual page and the shell completions of korva, written from its
// command definitions so that they list exactly the commands and options
// korva parses. The build runs `korva --generate KIND` to make them.

#include <CLI/CLI.hpp>
#include <string>

namespace Korva::Cli {

// The manual page (roff, section 1) of `korva` and its subcommands.
std::string ManPage(const CLI::App& korva);

// A bash completion script: commands, then each command's options, then
// file names.
std::string BashCompletion(const CLI::App& korva);

// The same for zsh, with the options' descriptions.
std::string ZshCompletion(const CLI::App& korva);

// Prints the document `kind` names ("man", "bash" or "zsh") on standard
// output; kExitUsage for another kind.
int WriteDocumentation(const CLI::App& korva, const std::string& kind);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_DOCUMENTATION_H_
