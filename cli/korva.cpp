#include "cli/korva.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <optional>
#include <vector>

#include "cli/commands.h"
#include "cli/documentation.h"
#include "cli/exit_status.h"
#include "cli/summary.h"

namespace Korva::Cli {
namespace {

// The number of single-character insertions, deletions, substitutions and
// swaps of neighbours that turn `a` into `b`.
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1,
                                     std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1,
                          d[i][j - 1] + 1,
                          d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

// The one of `names` that `word` most likely misspells: the nearest within
// two edits (one for words of up to four characters), or the only one that
// begins with it.
std::optional<std::string> DidYouMean(const std::string& word,
                                      const std::vector<std::string>& names) {
  const size_t allowed = word.size() <= 4 ? 1 : 2;
  std::optional<std::string> best, prefixed;
  size_t bestDistance = allowed + 1;
  int prefixes = 0;
  for (const std::string& name : names) {
    const size_t distance = EditDistance(word, name);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = name;
    }
    if (name.rfind(word, 0) == 0) {
      ++prefixes;
      prefixed = name;
    }
  }
  if (best) return best;
  return prefixes == 1 ? prefixed : std::nullopt;
}

std::vector<std::string> CommandNames(const std::vector<Command>& commands) {
  std::vector<std::string> names;
  for (const Command& c : commands) names.push_back(c.app->get_name());
  return names;
}

int UnknownCommand(const std::string& word,
                   const std::vector<Command>& commands) {
  const std::vector<std::string> names = CommandNames(commands);
  std::string list;
  for (const std::string& name : names)
    list += (list.empty() ? "" : ", ") + name;
  std::cerr << "korva: error: unknown command '" << word << "'";
  if (const auto guess = DidYouMean(word, names))
    std::cerr << "; did you mean '" << *guess << "'?";
  std::cerr << " (commands: " << list << "; korva help COMMAND explains one)\n";
  return kExitUsage;
}

// CLI11 lists what it could not place ("The following arguments were not
// expected: 0.1 --p-entr"); an unknown option is named with the nearest
// option of its command.
int ExtraArguments(CLI::App& app, const CLI::Error& error) {
  const std::vector<CLI::App*> parsed = app.get_subcommands();
  const CLI::App& command = parsed.empty() ? app : *parsed.front();
  const std::string usage =
      "korva " + (parsed.empty() ? std::string() : command.get_name() + " ") +
      "--help";
  std::vector<std::string> names;
  for (const CLI::Option* option : command.get_options())
    for (const std::string& name : option->get_lnames())
      names.push_back("--" + name);
  for (const std::string& word : app.remaining(true)) {
    if (word.rfind("-", 0) != 0 || word == "-") continue;
    const std::string option = word.substr(0, word.find('='));
    std::cerr << "korva: error: unknown option " << option;
    if (const auto guess = DidYouMean(option, names))
      std::cerr << "; did you mean " << *guess << "?";
    std::cerr << " (" << usage << " lists the options)\n";
    return kExitUsage;
  }
  std::cerr << "korva: error: " << error.what() << " (" << usage
            << " shows the usage)\n";
  return kExitUsage;
}

// korva help [COMMAND]: the help of korva or of one command.
Command AddHelpCommand(CLI::App& korva,
                       const std::vector<Command>& commands,
                       std::string& topic) {
  CLI::App* help =
      korva.add_subcommand("help", "show the help of korva or of a command");
  help->add_option("COMMAND", topic, "the command to explain");
  return {help, [&korva, &commands, &topic] {
            // help() of a parent shows the parsed subcommand's, this one.
            if (topic.empty()) {
              std::cout << korva.get_formatter()->make_help(
                  &korva, "korva", CLI::AppFormatMode::Normal);
              return int(kExitOk);
            }
            for (const Command& c : commands)
              if (c.app->get_name() == topic) {
                std::cout << c.app->help("korva");
                return int(kExitOk);
              }
            return UnknownCommand(topic, commands);
          }};
}

}  // namespace

int RunKorva(int argc, char** argv) {
  CLI::App app{
      "korva: trains, evaluates and applies the DOZOD stepwise "
      "linear discriminant classifier (module ZEZODOvo64.kvc)",
      "korva"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("korva ") + kVersion);
  SetCommandLine(argc, argv);
  app.footer(
      "Exit status: 0 success, 2 bad command line or parameter, 3 bad input "
      "data, 4 module cannot be loaded, 5 unusable model document, 6 training "
      "failed, 7 exception inside training, 8 output cannot be written, 9 no "
      "display for edit.");
  std::vector<Command> commands = {
      AddTrainCommand(app),
      AddScoreCommand(app),
      AddSpellCommand(app),
      AddEvaluateCommand(app),
      AddTuneCommand(app),
      AddInfoCommand(app),
      AddEditCommand(app, argc > 0 ? argv[0] : "korva"),
      AddGenerateCommand(app),
      AddDemoCommand(app),
      AddEpochsCommand(app),
  };
  std::string topic;
  const std::vector<Command> documented = commands;
  commands.push_back(AddHelpCommand(app, documented, topic));
  app.failure_message([](const CLI::App* korva, const CLI::Error& error) {
    return "korva: error: " + CLI::FailureMessage::simple(korva, error);
  });
  // The build writes the manual page and the completions from the commands.
  if (argc == 3 && std::string(argv[1]) == "--generate")
    return WriteDocumentation(app, argv[2]);
  // CLI11 would say only that a subcommand is required.
  if (argc > 1 && argv[1][0] != '-' &&
      std::none_of(commands.begin(), commands.end(), [&](const Command& c) {
        return c.app->get_name() == argv[1];
      }))
    return UnknownCommand(argv[1], documented);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ExtrasError& error) {
    return ExtraArguments(app, error);
  } catch (const CLI::ParseError& error) {
    // --help and --version: their text must reach standard output too.
    return RunCommand(
        [&] { return app.exit(error) == 0 ? kExitOk : kExitUsage; });
  }
  for (const Command& command : commands)
    if (command.app->parsed()) return RunCommand(command.run);
  return kExitUsage;
}

}  // namespace Korva::Cli
