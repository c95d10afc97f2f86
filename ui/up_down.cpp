#include "ui/up_down.h"

#include <QAbstractSpinBox>
#include <QSpinBox>
#include <QToolButton>

namespace {

QToolButton* MakeArrow(Qt::ArrowType arrow, QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setArrowType(arrow);
  button->setAutoRepeat(true);
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

}  // namespace

UpDown::UpDown(QSpinBox* edit, QWidget* parent)
    : QWidget(parent),
      edit_(edit),
      up_(MakeArrow(Qt::UpArrow, this)),
      down_(MakeArrow(Qt::DownArrow, this)) {
  setFocusPolicy(Qt::NoFocus);
  up_->setObjectName("up");
  down_->setObjectName("down");
  edit_->setButtonSymbols(QAbstractSpinBox::NoButtons);
  edit_->setSingleStep(1);
  edit_->setWrapping(false);
  connect(up_, &QToolButton::clicked, edit_, [this] { edit_->stepBy(1); });
  connect(down_, &QToolButton::clicked, edit_, [this] { edit_->stepBy(-1); });
}

void UpDown::SetRange(int minimum, int maximum) {
  edit_->setRange(minimum, maximum);
}

int UpDown::Minimum() const { return edit_->minimum(); }

int UpDown::Maximum() const { return edit_->maximum(); }

void UpDown::SetPosition(int position) { edit_->setValue(position); }

int UpDown::Position() const { return edit_->value(); }

void UpDown::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The upper half goes to the up arrow; an odd height gives the extra pixel
  // to the lower one.
  const int upHeight = height() / 2;
  up_->setGeometry(0, 0, width(), upHeight);
  down_->setGeometry(0, upHeight, width(), height() - upHeight);
}
