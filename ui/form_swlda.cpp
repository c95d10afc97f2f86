#include "ui/form_swlda.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QSpinBox>
#include <QStyle>
#include <algorithm>
#include <initializer_list>
#include <string>

#include "plugin/dozod.h"
#include "ui/up_down.h"

namespace {

constexpr int kClientWidth = 323;
constexpr int kClientHeight = 197;
// The form's font is 11 pixels high at 96 dpi.
constexpr int kFontPixels = 11;
constexpr int kSmallestFontPixels = 8;

QLabel* MakeLabel(QWidget* form,
                  const char* name,
                  const char* caption,
                  const QRect& rect) {
  auto* label = new QLabel(QString::fromLatin1(caption), form);
  label->setObjectName(name);
  label->setGeometry(rect);
  return label;
}

QSpinBox* MakeEdit(QWidget* form, const char* name, const QRect& rect) {
  auto* edit = new QSpinBox(form);
  edit->setObjectName(name);
  edit->setGeometry(rect);
  return edit;
}

UpDown* MakeUpDown(QSpinBox* edit,
                   const char* name,
                   const QRect& rect,
                   int minimum,
                   int maximum,
                   int position) {
  auto* upDown = new UpDown(edit, edit->parentWidget());
  upDown->setObjectName(name);
  upDown->setGeometry(rect);
  upDown->SetRange(minimum, maximum);
  upDown->SetPosition(position);
  return upDown;
}

QPushButton* MakeButton(QWidget* form,
                        const char* name,
                        QStyle::StandardPixmap icon,
                        const char* caption,
                        const QRect& rect) {
  auto* button =
      new QPushButton(form->style()->standardIcon(icon), caption, form);
  button->setObjectName(name);
  button->setGeometry(rect);
  return button;
}

// A captioned group of radio items, stacked evenly below the caption, the
// first one selected; the item buttons carry their index as their id in
// `items`.
QGroupBox* MakeRadioGroup(QWidget* form,
                          const char* name,
                          const char* caption,
                          const QRect& rect,
                          std::initializer_list<const char*> itemCaptions,
                          QButtonGroup* items) {
  auto* group = new QGroupBox(QString::fromLatin1(caption), form);
  group->setObjectName(name);
  group->setGeometry(rect);
  constexpr int kCaptionHeight = 15;
  constexpr int kMargin = 8;
  const int count = static_cast<int>(itemCaptions.size());
  const int itemHeight = (rect.height() - kCaptionHeight - 4) / count;
  int index = 0;
  for (const char* itemCaption : itemCaptions) {
    auto* item = new QRadioButton(QString::fromLatin1(itemCaption), group);
    item->setGeometry(kMargin,
                      kCaptionHeight + index * itemHeight,
                      rect.width() - 2 * kMargin,
                      itemHeight);
    items->addButton(item, index);
    ++index;
  }
  if (QAbstractButton* first = items->button(0)) first->setChecked(true);
  return group;
}

// Selects item `index`, or no item when the index names none.
void SetItemIndex(QButtonGroup* items, int index) {
  if (QAbstractButton* item = items->button(index)) {
    item->setChecked(true);
    return;
  }
  if (QAbstractButton* checked = items->checkedButton()) {
    items->setExclusive(false);
    checked->setChecked(false);
    items->setExclusive(true);
  }
}

// The dialog's title, fixed size and window colour.
void SetUpWindow(QDialog* form) {
  form->setObjectName("TFormSWLDA");
  form->setWindowTitle("DOZOD Configuration");
  form->setModal(true);
  form->setFixedSize(kClientWidth, kClientHeight);
  form->setSizeGripEnabled(false);
  QPalette colours = form->palette();
  colours.setColor(QPalette::Window, colours.color(QPalette::Button));
  form->setPalette(colours);
}

// Tab goes from each widget to the next, in the order given.
void SetTabOrder(std::initializer_list<QWidget*> widgets) {
  QWidget* previous = nullptr;
  for (QWidget* widget : widgets) {
    if (previous != nullptr) QWidget::setTabOrder(previous, widget);
    previous = widget;
  }
}

// The largest font, up to the form's 11 pixels, in which every label's text
// fits its fixed width, so that no caption is cut off whatever font the
// system matches. The advance ends with the last glyph's right bearing,
// hence the pixel of slack.
QFont FittingFont(QFont font, std::initializer_list<const QLabel*> labels) {
  font.setStretch(QFont::SemiCondensed);
  for (int pixels = kFontPixels; pixels > kSmallestFontPixels; --pixels) {
    font.setPixelSize(pixels);
    const QFontMetrics metrics(font);
    bool fits = true;
    for (const QLabel* label : labels)
      fits = fits &&
             metrics.horizontalAdvance(label->text()) - 1 <= label->width();
    if (fits) return font;
  }
  font.setPixelSize(kSmallestFontPixels);
  return font;
}

}  // namespace

void FormMessageBox::Show(const std::string& text,
                          const std::string& caption,
                          unsigned style) {
  // The icon is the style's second hexadecimal digit; 0x30 is the exclamation.
  const QMessageBox::Icon icon = (style & 0xF0u) == SwldaForm::kStyleExclamation
                                     ? QMessageBox::Warning
                                     : QMessageBox::NoIcon;
  QMessageBox box(icon,
                  QString::fromStdString(caption),
                  QString::fromStdString(text),
                  QMessageBox::Ok,
                  owner_);
  box.exec();
}

TFormSWLDA::TFormSWLDA(QWidget* owner, DOZOD* classifier)
    : QDialog(owner,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                  Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Classifier(classifier),
      ownMessages_(std::make_unique<FormMessageBox>(this)),
      messages_(ownMessages_.get()) {
  SetUpWindow(this);
  QButtonGroup* optionItems = CreateControls();
  setFont(FittingFont(
      font(), {Label2, Label6, Label7, Label8, Label5, Label1, Label3}));
  // The table's tab order, of the controls that take focus: the spinners
  // take none (the arrow keys step their edit boxes) and a radio group is
  // entered through its items.
  SetTabOrder({ebMaxIter,
               eb_p_in,
               eb_p_out,
               BitBtnOK,
               optionItems->button(0),
               optionItems->button(1),
               BitBtn2,
               ebThreshold,
               rgThreshModeItems->button(0),
               rgThreshModeItems->button(1)});
  ebMaxIter->setFocus();

  connect(BitBtnOK, &QPushButton::clicked, this, [this] {
    done(BitBtnOKClick() == SwldaForm::kModalOk ? Accepted : Rejected);
  });
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

QButtonGroup* TFormSWLDA::CreateControls() {
  // An edit box comes before the spinner attached to it.
  Label2 = MakeLabel(this, "Label2", "Max Iter", QRect(14, 15, 38, 13));
  Label6 = MakeLabel(this, "Label6", "%", QRect(124, 49, 8, 13));
  Label7 = MakeLabel(this, "Label7", "p enter", QRect(15, 48, 33, 13));
  Label8 = MakeLabel(this, "Label8", "p remove", QRect(15, 80, 44, 13));
  Label5 = MakeLabel(this, "Label5", "%", QRect(124, 80, 8, 13));
  Label1 = MakeLabel(this, "Label1", "Threshold", QRect(15, 128, 47, 13));
  Label3 = MakeLabel(this, "Label3", "%", QRect(124, 128, 8, 13));

  // The spinners start at the settings of a new classifier.
  const SwldaForm::Positions initial;
  ebMaxIter = MakeEdit(this, "ebMaxIter", QRect(71, 11, 49, 21));
  udMaxIter = MakeUpDown(
      ebMaxIter, "udMaxIter", QRect(120, 11, 16, 21), 1, 32767, initial.maxIter);
  eb_p_in = MakeEdit(this, "eb_p_in", QRect(71, 43, 36, 21));
  ud_p_in = MakeUpDown(
      eb_p_in, "ud_p_in", QRect(107, 43, 16, 21), 1, 99, initial.pEnter);
  eb_p_out = MakeEdit(this, "eb_p_out", QRect(71, 75, 36, 21));
  ud_p_out = MakeUpDown(
      eb_p_out, "ud_p_out", QRect(107, 75, 16, 21), 1, 100, initial.pRemove);

  BitBtnOK = MakeButton(this,
                        "BitBtnOK",
                        QStyle::SP_DialogOkButton,
                        "OK",
                        QRect(64, 166, 75, 25));
  BitBtnOK->setDefault(true);

  auto* optionItems = new QButtonGroup(this);
  RadioGroup2 = MakeRadioGroup(this,
                               "RadioGroup2",
                               "Options",
                               QRect(169, 8, 144, 65),
                               {"One classifier", "One classifier per LS"},
                               optionItems);
  // Shown for its look only: it is neither read nor written.
  RadioGroup2->setEnabled(false);

  BitBtn2 = MakeButton(this,
                       "BitBtn2",
                       QStyle::SP_DialogCancelButton,
                       "Cancel",
                       QRect(185, 166, 75, 25));

  ebThreshold = MakeEdit(this, "ebThreshold", QRect(71, 123, 36, 21));
  udThreshold = MakeUpDown(
      ebThreshold, "udThreshold", QRect(107, 123, 16, 21), 0, 100, 0);

  rgThreshModeItems = new QButtonGroup(this);
  rgThreshMode = MakeRadioGroup(this,
                                "rgThreshMode",
                                "Threshold Mode",
                                QRect(169, 88, 144, 65),
                                {"Max", "Range"},
                                rgThreshModeItems);
  return optionItems;
}

TFormSWLDA::~TFormSWLDA() = default;

void TFormSWLDA::FormActivate() {
  if (Classifier == nullptr) return;
  SwldaForm::DozodSettings settings(*Classifier);
  ShowPositions(SwldaForm::FormActivate(settings));
}

int TFormSWLDA::BitBtnOKClick() {
  if (Classifier == nullptr) return SwldaForm::kModalOk;
  SwldaForm::DozodSettings settings(*Classifier);
  return SwldaForm::BitBtnOKClick(ReadPositions(), settings, *messages_);
}

void TFormSWLDA::SetMessageSink(SwldaForm::MessageSink* sink) {
  messages_ = sink != nullptr ? sink : ownMessages_.get();
}

void TFormSWLDA::showEvent(QShowEvent* event) {
  // A spontaneous show (the window system restoring it) must not overwrite
  // what the user has entered.
  if (!event->spontaneous()) {
    CentreOverActiveWindow();
    FormActivate();
  }
  QDialog::showEvent(event);
}

SwldaForm::Positions TFormSWLDA::ReadPositions() const {
  SwldaForm::Positions positions;
  positions.maxIter = udMaxIter->Position();
  positions.pEnter = ud_p_in->Position();
  positions.pRemove = ud_p_out->Position();
  positions.threshold = udThreshold->Position();
  positions.thresholdMode = rgThreshModeItems->checkedId();
  return positions;
}

void TFormSWLDA::ShowPositions(const SwldaForm::Positions& positions) {
  udMaxIter->SetPosition(positions.maxIter);
  ud_p_in->SetPosition(positions.pEnter);
  ud_p_out->SetPosition(positions.pRemove);
  udThreshold->SetPosition(positions.threshold);
  SetItemIndex(rgThreshModeItems, positions.thresholdMode);
}

void TFormSWLDA::CentreOverActiveWindow() {
  QWidget* anchor = parentWidget() != nullptr ? parentWidget()->window()
                                              : QApplication::activeWindow();
  if (anchor == this) anchor = nullptr;
  if (anchor == nullptr) {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (window != this && window->isVisible() &&
          qobject_cast<QMainWindow*>(window) != nullptr) {
        anchor = window;
        break;
      }
    }
  }
  QScreen* screen = anchor != nullptr ? anchor->screen() : this->screen();
  const QRect available =
      screen != nullptr ? screen->availableGeometry() : QRect();
  QRect frame = frameGeometry();
  frame.moveCenter(anchor != nullptr ? anchor->frameGeometry().center()
                                     : available.center());
  // Keep the caption reachable when the anchor hangs over a screen edge.
  if (available.isValid()) {
    frame.moveRight(std::min(frame.right(), available.right()));
    frame.moveBottom(std::min(frame.bottom(), available.bottom()));
    frame.moveLeft(std::max(frame.left(), available.left()));
    frame.moveTop(std::max(frame.top(), available.top()));
  }
  move(frame.topLeft());
}
