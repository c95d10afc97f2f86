// korva edit in this process, with the real module and its dialog offscreen:
// a timer plays the user, changes the iteration limit and the threshold and
// presses OK, and the model is saved with the new configuration and the same
// training, which then decides as the dialog said.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "cli/exit_status.h"
#include "cli/korva.h"
#include "testing/korva_runner.h"

namespace Korva::Testing {
namespace {

// Sets the iteration limit and the threshold 50 % in mode Range, then OK.
void PressOkWithMaxIterAndRange(int maxIter) {
  QTimer::singleShot(0, [maxIter] {
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog == nullptr) return PressOkWithMaxIterAndRange(maxIter);
    dialog->findChild<QSpinBox*>("ebMaxIter")->setValue(maxIter);
    dialog->findChild<QSpinBox*>("ebThreshold")->setValue(50);
    dialog->findChild<QGroupBox*>("rgThreshMode")
        ->findChildren<QRadioButton*>()[1]
        ->click();
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
  const std::string scores = Section(model, "ClassScores");
  PressOkWithMaxIterAndRange(42);
  std::vector<std::string> words = {
      "korva", "edit", model, "--module", KORVA_MODULE_FILE};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  EXPECT_EQ(Cli::RunKorva(static_cast<int>(argv.size()), argv.data()),
            Cli::kExitOk);
  const std::string configuration = Section(model, "Configuration");
  EXPECT_NE(configuration.find("MaxIter=\"42\""), std::string::npos);
  EXPECT_NE(configuration.find("Threshold=\"0.5\" ThresholdMode=\"1\""),
            std::string::npos)
      << configuration;
  EXPECT_EQ(Section(model, "Info"), info);
  ASSERT_EQ(Section(model, "ClassScores"), scores);
  // The cut is midway between the training classes' mean scores.
  pugi::xml_document document;
  document.load_string(scores.c_str());
  const pugi::xml_node c = document.child("ClassScores");
  const Result scored =
      Shell(dir.Path(), k + " score m.xml d.csv --output s.csv --summary -");
  ASSERT_EQ(scored.status, 0) << scored.err;
  EXPECT_DOUBLE_EQ(
      nlohmann::json::parse(scored.out)["metrics"]["cut"].get<double>(),
      0.5 * (c.attribute("NegativeMean").as_double() +
             c.attribute("PositiveMean").as_double()));
}

}  // namespace
}  // namespace Korva::Testing
