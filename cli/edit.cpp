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
// Whether Qt can open the display: tried in a child process, because Qt ends
// the process that fails to (an unknown platform, an unreachable display).
bool DisplayWorks(const std::string& program) {
  std::cout.flush();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDERR_FILENO);
    int argc = 1;
    std::string name = program;
    char* argv[] = {name.data(), nullptr};
    QApplication application(argc, argv);
    ::_exit(0);
  }
  int status = 0;
  while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
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
  if (QCoreApplication::instance() == nullptr) {
    if (!DisplayWorks(program))
      throw CliError(kExitNoDisplay,
                     "no display: Qt could not open one (" +
                         Variable("QT_QPA_PLATFORM") + ", " +
                         Variable("DISPLAY") + ", " +
                         Variable("WAYLAND_DISPLAY") + ")");
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

int RunEdit(const EditOptions& o) {
  // Without a display Qt would abort the process; say so instead.
  if (!HasDisplay())
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
