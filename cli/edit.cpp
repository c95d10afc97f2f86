// korva edit: the classifier's own configuration dialog on a saved model; the
// only part of korva that needs a GUI application.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>

#ifdef KORVA_HAVE_UI
#include <QApplication>
#endif

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/texts.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/trained_model.h"

namespace Korva::Cli {
namespace {

struct EditOptions {
  std::string program, model, module;
  bool quiet = false;
};

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

#ifdef KORVA_HAVE_UI
enum class Display { kVisible, kInvisible, kNone };

// Exit status of the trial below when Qt opened a platform that shows
// nothing: "offscreen" and "minimal" draw into memory, so a dialog there
// waits for an answer nobody can give.
constexpr int kInvisiblePlatform = 3;

// Whether Qt can open a display a user sees: tried in a child process,
// because Qt ends the process that fails to (an unknown platform, an
// unreachable display), and judged by the platform Qt chose, wherever
// QT_QPA_PLATFORM (a list, with options) led it.
Display TryDisplay(const std::string& program) {
  std::cout.flush();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDERR_FILENO);
    int argc = 1;
    std::string name = program;
    char* argv[] = {name.data(), nullptr};
    QApplication application(argc, argv);
    const QString platform = QGuiApplication::platformName();
    ::_exit(platform.startsWith("offscreen") || platform.startsWith("minimal")
                ? kInvisiblePlatform
                : 0);
  }
  int status = 0;
  while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (pid <= 0 || !WIFEXITED(status)) return Display::kNone;
  if (WEXITSTATUS(status) == kInvisiblePlatform) return Display::kInvisible;
  return WEXITSTATUS(status) == 0 ? Display::kVisible : Display::kNone;
}
std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return std::string(name) + "=" + (value ? value : "");
}

#endif

// Shows the dialog, with a GUI application unless the process has one.
// False when the user cancelled or nothing was shown.
bool ShowDialog(ClassifierBase& classifier, const std::string& program) {
#ifdef KORVA_HAVE_UI
  int argc = 1;
  std::string name = program;
  char* argv[] = {name.data(), nullptr};
  std::optional<QApplication> application;
  // A program that runs korva inside itself with its own application (the
  // edit test, on the offscreen platform) has chosen where the dialog goes.
  if (QCoreApplication::instance() == nullptr) {
    const std::string variables = Variable("QT_QPA_PLATFORM") + ", " +
                                  Variable("DISPLAY") + ", " +
                                  Variable("WAYLAND_DISPLAY");
    switch (TryDisplay(program)) {
      case Display::kVisible:
        break;
      case Display::kInvisible:
        throw CliError(kExitNoDisplay,
                       "no display: Qt's platform draws nowhere a user can "
                       "see, so nobody could answer the dialog (" +
                           variables +
                           "); korva edit needs a graphical session");
      case Display::kNone:
        throw CliError(kExitNoDisplay,
                       "no display: Qt could not open one (" + variables + ")");
    }
    application.emplace(argc, argv);
  }
  return classifier.EditConfiguration();
#else
  static_cast<void>(classifier);
  static_cast<void>(program);
  throw CliError(kExitNoDisplay,
                 "this korva was built without the dialog (KORVA_BUILD_UI "
                 "off)");
#endif
}

bool HasApplication() {
#ifdef KORVA_HAVE_UI
  return QCoreApplication::instance() != nullptr;
#else
  return false;
#endif
}

int RunEdit(const EditOptions& o) {
  // Without a display Qt would abort the process; say so instead.
  if (!HasApplication() && !HasDisplay())
    throw CliError(kExitNoDisplay,
                   "no display: korva edit shows a dialog and needs a "
                   "graphical session (DISPLAY and WAYLAND_DISPLAY are not "
                   "set)");
  auto module = HostKit::OpenModule(HostKit::ChooseModulePath(o.module));
  const HostKit::TrainedModel model =
      HostKit::TrainedModel::Load(*module, o.model);
  ClassifierBase& classifier = model.Classifier();
  if (!classifier.CanEdit())
    throw CliError(
        kExitModel,
        "the classifier in " + o.model + " offers no configuration dialog");
  // The dialog's spinner holds whole percents from 0 to 100.
  if (const double t = model.Settings().threshold; !(t >= 0.0 && t <= 1.0))
    Warn("the threshold of " + o.model + ", " + General(t) +
         ", is outside the dialog's 0 to 100 %: it shows the nearest end, "
         "and OK stores that; set such a threshold with korva train "
         "--threshold");
  if (!ShowDialog(classifier, o.program)) {
    if (!o.quiet)
      std::cout << "configuration not changed (dialog cancelled or not shown); "
                << o.model << " is untouched\n";
    return kExitOk;
  }
  model.Save(o.model);
  if (!o.quiet) std::cout << "configuration saved to " << o.model << '\n';
  return kExitOk;
}

}  // namespace

Command AddEditCommand(CLI::App& korva, const std::string& program) {
  auto options = std::make_shared<EditOptions>();
  options->program = program;
  CLI::App* command = korva.add_subcommand(
      "edit",
      "edit the configuration of a saved classifier in its "
      "dialog; saved on OK");
  command->add_option("MODEL", options->model, "classifier document (XML)")
      ->required();
  AddQuietOption(command, options->quiet);
  AddModuleOption(command, options->module);
  return {command, [options] { return RunEdit(*options); }};
}

}  // namespace Korva::Cli
