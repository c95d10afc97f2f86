// korva edit in this process, with the real module and its dialog offscreen:
// a timer plays the user, changes the iteration limit and presses OK, and
// the model is saved with the new configuration and the same training.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <pugixml.hpp>

#include "cli/exit_status.h"
#include "cli/korva.h"
#include "testing/korva_runner.h"

namespace Korva::Testing {
namespace {

void PressOkWithMaxIter(int maxIter) {
  QTimer::singleShot(0, [maxIter] {
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog == nullptr) return PressOkWithMaxIter(maxIter);
    dialog->findChild<QSpinBox*>("ebMaxIter")->setValue(maxIter);
    dialog->findChild<QPushButton*>("BitBtnOK")->click();
  });
}

std::string Section(const std::string& path, const char* name) {
  pugi::xml_document document;
  document.load_file(path.c_str());
  std::ostringstream text;
  document.child("KorvaClassifier").child(name).print(text);
  return text.str();
}

TEST(KorvaEdit, OkSavesTheNewConfigurationAndKeepsTheTraining) {
  int argc = 1;
  char name[] = "korva";
  char* argv0[] = {name, nullptr};
  QApplication application(argc, argv0);
  const TempDir dir;
  const std::string k = Program(KORVA_BINARY);
  ASSERT_EQ(Shell(dir.Path(),
                  k + " generate --epochs 120 --channels 2 --output d.csv && " +
                      k + " train d.csv --quiet --model m.xml")
                .status,
            0);
  const std::string model = dir / "m.xml";
  const std::string info = Section(model, "Info");
  PressOkWithMaxIter(42);
  std::vector<std::string> words = {
      "korva", "edit", model, "--module", KORVA_MODULE_FILE};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  EXPECT_EQ(Cli::RunKorva(static_cast<int>(argv.size()), argv.data()),
            Cli::kExitOk);
  EXPECT_NE(Section(model, "Configuration").find("MaxIter=\"42\""),
            std::string::npos);
  EXPECT_EQ(Section(model, "Info"), info);
}

}  // namespace
}  // namespace Korva::Testing
