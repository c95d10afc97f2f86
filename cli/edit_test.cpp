// The edit command in process, with the real module and its real dialog,
// offscreen: a timer plays the user, changes the iteration limit and presses
// OK or Cancel.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <sstream>
#include <vector>

#include "cli/exit_status.h"
#include "cli/korva.h"

namespace Korva::Cli {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class EditCommand : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "edit_command_test";
    static char* argv[] = {name, nullptr};
    application_ = new QApplication(argc, argv);
  }
  static void TearDownTestSuite() {
    delete application_;
    application_ = nullptr;
  }

  void SetUp() override {
    std::string pattern =
        (fs::temp_directory_path() / "korva-edit-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    model = (dir / "m.xml").string();
    // A trained model, made by korva itself.
    const std::string data = (dir / "d.csv").string();
    const std::string commands =
        "\"" KORVA_BINARY "\" generate --epochs 120 --channels 2 --output \"" +
        data + "\" >/dev/null && \"" KORVA_BINARY "\" train \"" + data +
        "\" --quiet --model \"" + model + "\"";
    ASSERT_EQ(std::system(commands.c_str()), 0);
  }
  void TearDown() override { fs::remove_all(dir); }

  // Once the modal dialog is up, sets the iteration limit and presses
  // `button` ("BitBtnOK" or "BitBtn2").
  static void PlayUser(int maxIter, const char* button) {
    QTimer::singleShot(0, [maxIter, button] {
      QWidget* dialog = QApplication::activeModalWidget();
      if (dialog == nullptr) return PlayUser(maxIter, button);
      dialog->findChild<QSpinBox*>("ebMaxIter")->setValue(maxIter);
      dialog->findChild<QPushButton*>(button)->click();
    });
  }

  static pugi::xml_node Section(pugi::xml_document& document,
                                const char* name) {
    return document.child("KorvaClassifier").child(name);
  }

  // korva edit MODEL in this process, with the module built beside it.
  static int Edit(const std::string& path) {
    std::vector<std::string> words = {
        "korva", "edit", path, "--module", KORVA_MODULE_FILE};
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    return RunKorva(static_cast<int>(argv.size()), argv.data());
  }

  static QApplication* application_;
  fs::path dir;
  std::string model;
};

QApplication* EditCommand::application_ = nullptr;

TEST_F(EditCommand, OkSavesTheNewConfigurationAndKeepsTheTraining) {
  pugi::xml_document before;
  ASSERT_TRUE(before.load_file(model.c_str()));
  ASSERT_EQ(Section(before, "Configuration").attribute("MaxIter").as_int(),
            300);
  PlayUser(42, "BitBtnOK");
  EXPECT_EQ(Edit(model), kExitOk);
  pugi::xml_document after;
  ASSERT_TRUE(after.load_file(model.c_str()));
  EXPECT_EQ(Section(after, "Configuration").attribute("MaxIter").as_int(), 42);
  EXPECT_EQ(Section(after, "Configuration").attribute("p_Enter").as_double(),
            Section(before, "Configuration").attribute("p_Enter").as_double());
  std::ostringstream infoBefore, infoAfter;
  Section(before, "Info").print(infoBefore);
  Section(after, "Info").print(infoAfter);
  EXPECT_EQ(infoAfter.str(), infoBefore.str()) << "selection and weights kept";
}

TEST_F(EditCommand, CancelLeavesTheFileUntouched) {
  const std::string before = ReadFile(model);
  PlayUser(42, "BitBtn2");
  EXPECT_EQ(Edit(model), kExitOk);
  EXPECT_EQ(ReadFile(model), before);
}

TEST_F(EditCommand, UnusableModelIsRefusedBeforeAnyDialog) {
  std::ofstream(dir / "bad.xml") << "<nothing/>";
  EXPECT_EQ(Edit((dir / "bad.xml").string()), kExitModel);
}

}  // namespace
}  // namespace Korva::Cli
