#ifndef KORVA_UI_FORM_SWLDA_H_
#define KORVA_UI_FORM_SWLDA_H_

#include <QDialog>
#include <memory>
#include <string>

#include "ui/swlda_form_logic.h"

class DOZOD;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QPushButton;
class QShowEvent;
class QSpinBox;
class UpDown;

// The form's message boxes: a QMessageBox with an OK button, modal over
// `owner`; style kStyleExclamation shows an exclamation-mark icon, kStyleOk
// none.
class FormMessageBox : public SwldaForm::MessageSink {
 public:
  explicit FormMessageBox(QWidget* owner) : owner_(owner) {}
  void Show(const std::string& text,
            const std::string& caption,
            unsigned style) override;

 private:
  QWidget* owner_;
};

// The modal configuration form of a DOZOD classifier: iteration limit, p enter
// and p remove, threshold (all but the limit in whole percent) and threshold
// mode. Shows the classifier's values when shown; OK stores them (with the
// p-range checks) and closes with Accepted, Cancel or Esc closes with Rejected
// and stores nothing. Client area 323 x 197 pixels, fixed, controls at fixed
// pixel positions; each control's object name is its field name.
class TFormSWLDA : public QDialog {
  Q_OBJECT

 public:
  // Does not own `classifier`, which must outlive the form; with a null one
  // the form shows its initial values and stores nothing. `owner` may be
  // null; the form then centres itself over the application's active window.
  TFormSWLDA(QWidget* owner, DOZOD* classifier);
  ~TFormSWLDA() override;

  // Fills the controls from the classifier (runs whenever the form is shown).
  void FormActivate();
  // Stores the controls into the classifier as OK does and returns the modal
  // result the OK button closes the form with: SwldaForm::kModalOk, also
  // after an error message.
  int BitBtnOKClick();
  // Messages go to `sink` instead of a QMessageBox owned by the form; null
  // restores the message box. The form does not own `sink`.
  void SetMessageSink(SwldaForm::MessageSink* sink);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Creates every control in the layout's order, which is also the stacking
  // order; returns the items of the Options group, which no member holds.
  QButtonGroup* CreateControls();
  SwldaForm::Positions ReadPositions() const;
  void ShowPositions(const SwldaForm::Positions& positions);
  void CentreOverActiveWindow();

  QLabel* Label2;
  QSpinBox* ebMaxIter;
  UpDown* udMaxIter;
  QLabel* Label6;
  UpDown* ud_p_in;
  QSpinBox* eb_p_in;
  QLabel* Label7;
  QLabel* Label8;
  QSpinBox* eb_p_out;
  UpDown* ud_p_out;
  QLabel* Label5;
  QPushButton* BitBtnOK;
  QGroupBox* RadioGroup2;
  QPushButton* BitBtn2;
  QLabel* Label1;
  QSpinBox* ebThreshold;
  UpDown* udThreshold;
  QLabel* Label3;
  QGroupBox* rgThreshMode;
  QButtonGroup* rgThreshModeItems;

  DOZOD* Classifier;
  std::unique_ptr<FormMessageBox> ownMessages_;
  SwldaForm::MessageSink* messages_;
};

#endif  // KORVA_UI_FORM_SWLDA_H_
