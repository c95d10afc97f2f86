#include "cli/documentation.h"

#include <iostream>
#include <vector>

#include "cli/exit_status.h"
#include "cli/summary.h"

namespace Korva::Cli {
namespace {

// The subcommands a user can give, in the order korva declares them.
std::vector<const CLI::App*> Commands(const CLI::App& korva) {
  return korva.get_subcommands([](const CLI::App*) { return true; });
}

// The options a user can give to `command` (hidden ones and --help left
// out), the positional arguments first.
std::vector<const CLI::Option*> Options(const CLI::App& command) {
  std::vector<const CLI::Option*> options;
  for (bool positional : {true, false})
    for (const CLI::Option* option : command.get_options())
      if (option->get_positional() == positional &&
          !option->get_group().empty() && option != command.get_help_ptr())
        options.push_back(option);
  return options;
}

bool TakesValue(const CLI::Option* option) {
  return option->get_positional() || option->get_expected_min() > 0;
}

// The option's long name ("--model"), or its name when positional.
std::string NameOf(const CLI::Option* option) {
  return option->get_lnames().empty() ? option->get_name()
                                      : "--" + option->get_lnames().front();
}

// `text` as roff prose: backslashes and hyphens escaped, no line that
// begins with a control character.
std::string Roff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
  return out;
}

std::string Synopsis(const CLI::App& command) {
  std::string line = "korva " + command.get_name();
  for (const CLI::Option* option : Options(command))
    if (option->get_positional())
      line += option->get_required() ? " " + option->get_name()
                                     : " [" + option->get_name() + "]";
  return line + " [OPTIONS]";
}

void ManOptions(std::string& page, const CLI::App& command) {
  for (const CLI::Option* option : Options(command)) {
    if (!option->get_positional() && TakesValue(option))
      page += ".TP\n.BI \"" + Roff(NameOf(option)) + " \" " +
              Roff(option->get_type_name());
    else
      page += ".TP\n.B " + Roff(NameOf(option));
    page += "\n" + Roff(option->get_description()) +
            (option->get_required() && !option->get_positional() ? " (required)"
                                                                 : "") +
            "\n";
  }
}

// A string for a single-quoted shell word.
std::string ShellQuoted(const std::string& text) {
  std::string out;
  for (char c : text)
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out;
}

// A description inside the brackets of one option of zsh's _arguments.
std::string ZshDescription(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '[' || c == ']' || c == ':' || c == '\\') out += '\\';
    out += c;
  }
  return ShellQuoted(out);
}

}  // namespace

std::string ManPage(const CLI::App& korva) {
  std::string page = ".TH KORVA 1 \"\" \"korva " + std::string(kVersion) +
                     "\" \"User Commands\"\n.SH NAME\nkorva \\- " +
                     Roff(korva.get_description().substr(7)) +
                     "\n.SH SYNOPSIS\n.B korva\n.I COMMAND\n[\\fIOPTIONS\\fR]"
                     "\n.br\n.B korva help\n[\\fICOMMAND\\fR]\n.br\n"
                     ".B korva \\-\\-version\n.SH COMMANDS\n";
  for (const CLI::App* command : Commands(korva)) {
    page += ".SS \"" + Roff(Synopsis(*command)) + "\"\n" +
            Roff(command->get_description()) + "\n";
    ManOptions(page, *command);
  }
  return page +
         ".SH ENVIRONMENT\n.TP\n.B KORVA_MODULE\nThe classifier module to "
         "load when \\fB\\-\\-module\\fR is not given; by default the module "
         "installed with korva.\n.SH EXIT STATUS\n" +
         Roff(korva.get_footer().substr(13)) + "\n";
}

std::string BashCompletion(const CLI::App& korva) {
  std::string commands, cases;
  for (const CLI::App* command : Commands(korva)) {
    commands += (commands.empty() ? "" : " ") + command->get_name();
    std::string options;
    for (const CLI::Option* option : Options(*command))
      if (!option->get_positional())
        options += (options.empty() ? "" : " ") + NameOf(option);
    cases += "    " + command->get_name() + ") options='" + options + "' ;;\n";
  }
  return "# bash completion for korva (written by korva --generate bash)\n"
         "_korva() {\n"
         "  local word=${COMP_WORDS[COMP_CWORD]} options\n"
         "  if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
         "    COMPREPLY=($(compgen -W '" +
         commands +
         " --version --help' -- \"$word\"))\n"
         "    return\n"
         "  fi\n"
         "  case ${COMP_WORDS[1]} in\n" +
         cases +
         "    *) return ;;\n"
         "  esac\n"
         "  if [ \"${COMP_WORDS[1]}\" = help ]; then\n"
         "    COMPREPLY=($(compgen -W '" +
         commands +
         "' -- \"$word\"))\n"
         "  elif [[ $word == -* ]]; then\n"
         "    COMPREPLY=($(compgen -W \"$options\" -- \"$word\"))\n"
         "  else\n"
         "    COMPREPLY=($(compgen -f -- \"$word\"))\n"
         "  fi\n"
         "}\n"
         "complete -o filenames -o bashdefault -F _korva korva\n";
}

std::string ZshCompletion(const CLI::App& korva) {
  std::string commands, cases;
  for (const CLI::App* command : Commands(korva)) {
    std::string description;
    for (char c : command->get_description())
      description += c == ':' ? std::string("\\:") : std::string(1, c);
    commands +=
        "    '" + command->get_name() + ":" + ShellQuoted(description) + "'\n";
    cases += "    " + command->get_name() + ")\n      _arguments";
    for (const CLI::Option* option : Options(*command))
      if (!option->get_positional())
        cases += " \\\n        '" + NameOf(option) + "[" +
                 ZshDescription(option->get_description()) + "]" +
                 (TakesValue(option) ? ":" + option->get_type_name() + ":_files"
                                     : "") +
                 "'";
    cases += " \\\n        '*:file:_files' ;;\n";
  }
  return "#compdef korva\n# zsh completion for korva (written by korva "
         "--generate zsh)\n_korva() {\n  local -a commands\n  commands=(\n" +
         commands +
         "  )\n  if (( CURRENT == 2 )); then\n    _describe command commands\n"
         "    return\n  fi\n  shift words\n  (( CURRENT-- ))\n"
         "  case $words[1] in\n" +
         cases + "  esac\n}\n_korva \"$@\"\n";
}

int WriteDocumentation(const CLI::App& korva, const std::string& kind) {
  if (kind == "man")
    std::cout << ManPage(korva);
  else if (kind == "bash")
    std::cout << BashCompletion(korva);
  else if (kind == "zsh")
    std::cout << ZshCompletion(korva);
  else {
    std::cerr << "korva: error: --generate makes man, bash or zsh, not " << kind
              << '\n';
    return kExitUsage;
  }
  return std::cout.flush() ? kExitOk : kExitOutput;
}

}  // namespace Korva::Cli
