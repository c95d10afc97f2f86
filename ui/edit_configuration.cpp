#include <QApplication>
#include <QThread>

#include "plugin/dozod.h"
#include "ui/form_swlda.h"

bool DOZOD::EditConfiguration() {
  // Widgets need a QApplication and its thread; a headless host (no
  // application object, or a QCoreApplication only) gets no dialog.
  auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (application == nullptr ||
      QThread::currentThread() != application->thread())
    return false;
  // On the stack, so the form is destroyed also when exec() throws.
  TFormSWLDA form(nullptr, this);
  return form.exec() == QDialog::Accepted;
}
