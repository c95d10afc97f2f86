// The edit command: the only part of korva that needs a GUI application.
#include <QApplication>
#include <cstdlib>
#include <iostream>
#include <optional>

#include "cli/classifier_host.h"
#include "cli/commands.h"

namespace Korva::Cli {
namespace {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace

int RunEdit(const std::string& program,
            const std::string& modelPath,
            const std::string& modulePath) {
  // Without a display Qt would abort the process; say so instead.
  if (!HasDisplay())
    throw CliError(kExitNoDisplay,
                   "no display: korva edit shows a dialog and needs a "
                   "graphical session (DISPLAY and WAYLAND_DISPLAY are not "
                   "set)");
  auto module = OpenModule(modulePath);
  ClassifierHandle classifier = LoadModel(*module, modelPath);
  if (!classifier->CanEdit())
    throw CliError(
        kExitModel,
        "the classifier in " + modelPath + " offers no configuration dialog");

  // A GUI application for the dialog, unless the process already has one.
  int argc = 1;
  std::string name = program;
  char* argv[] = {name.data(), nullptr};
  std::optional<QApplication> application;
  if (QCoreApplication::instance() == nullptr) application.emplace(argc, argv);
  if (!classifier->EditConfiguration()) {
    std::cout << "configuration not changed (dialog cancelled or not shown); "
              << modelPath << " is untouched\n";
    return kExitOk;
  }
  SaveModel(*classifier, modelPath);
  std::cout << "configuration saved to " << modelPath << '\n';
  return kExitOk;
}

}  // namespace Korva::Cli
