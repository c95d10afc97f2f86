// dozod-dialog-snapshot: draws the configuration form of a fresh DOZOD
// classifier into a PNG file, without a display.
//   dozod-dialog-snapshot OUTPUT.png
#include <QApplication>
#include <QPixmap>
#include <cstdio>

#include "plugin/dozod.h"
#include "ui/form_swlda.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dozod-dialog-snapshot OUTPUT.png\n");
    return 2;
  }
  // Draw offscreen unless the caller chose a platform.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  DOZOD classifier;
  TFormSWLDA form(nullptr, &classifier);
  form.show();
  QApplication::processEvents();
  const QPixmap picture = form.grab();
  if (!picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "dozod-dialog-snapshot: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
