#ifndef KORVA_UI_UP_DOWN_H_
#define KORVA_UI_UP_DOWN_H_

#include <QWidget>

class QSpinBox;
class QToolButton;

// An up-down spinner attached to an edit box: two arrow buttons stacked in
// the spinner's own rectangle that step the edit box's value by 1 within the
// range. The edit box (a QSpinBox without buttons) holds the position, so
// what is typed and what is clicked never disagree. Takes no keyboard focus;
// the arrow keys step the edit box itself.
class UpDown : public QWidget {
  Q_OBJECT

 public:
  // `edit` must outlive the spinner (both are children of one form).
  UpDown(QSpinBox* edit, QWidget* parent);

  void SetRange(int minimum, int maximum);
  int Minimum() const;
  int Maximum() const;
  // Out-of-range positions are clamped to the range.
  void SetPosition(int position);
  int Position() const;
  QSpinBox* Associate() const { return edit_; }
  QToolButton* UpButton() const { return up_; }
  QToolButton* DownButton() const { return down_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QSpinBox* edit_;
  QToolButton* up_;
  QToolButton* down_;
};

#endif  // KORVA_UI_UP_DOWN_H_
