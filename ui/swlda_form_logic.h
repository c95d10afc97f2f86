#ifndef KORVA_UI_SWLDA_FORM_LOGIC_H_
#define KORVA_UI_SWLDA_FORM_LOGIC_H_

#include <string>

#include "korva/stepwise_settings.h"

class DOZOD;

// What the configuration form shows and stores, apart from any widget
// toolkit: the spinners and the radio group are plain integers here.
namespace SwldaForm {

// Message box styles: an OK button alone, or with an exclamation-mark icon.
constexpr unsigned kStyleOk = 0;
constexpr unsigned kStyleExclamation = 48;

constexpr const char* kErrorCaption = "Error";
// p enter not below p remove (as whole percentages).
constexpr const char* kOrderMessage = "Invalid p range (max < min)";
// The classifier refused the pair.
constexpr const char* kRangeMessage = "Invalid p range (max, min)";

// Modal results of the form.
constexpr int kModalOk = 1;
constexpr int kModalCancel = 2;

// The controls' values: spinner positions (the three p-like values in whole
// percent) and the index selected in the threshold-mode group (0 "Max",
// 1 "Range", -1 when none is selected).
struct Positions {
  int maxIter = Korva::kDefaultMaxIter;
  int pEnter = static_cast<int>(Korva::kDefaultPEnter * 100.0);
  int pRemove = static_cast<int>(Korva::kDefaultPRemove * 100.0);
  int threshold = 0;
  int thresholdMode = 0;
};

// What the form reads from and writes to the classifier being edited.
class Settings {
 public:
  virtual ~Settings() = default;
  virtual int GetMaxIter() const = 0;
  virtual double GetPEnter() const = 0;
  virtual double GetPRemove() const = 0;
  virtual double GetThreshold() const = 0;
  // The threshold mode as an integer (0 "Max", 1 "Range").
  virtual int GetThresholdMode() const = 0;
  // Stores the limit as given; returns 0.
  virtual int SetMaxIter(int maxIter) = 0;
  // 0 when the pair is stored, non-zero when it is refused (nothing stored).
  virtual int SetPRange(double pEnter, double pRemove) = 0;
  virtual void SetThreshold(double threshold) = 0;
  virtual void SetThresholdMode(int mode) = 0;
};

// Shows a modal message with an OK button and waits until it is closed.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // style: kStyleOk or kStyleExclamation.
  virtual void Show(const std::string& text,
                    const std::string& caption,
                    unsigned style) = 0;
};

// Settings of a DOZOD object; it does not own the object.
class DozodSettings : public Settings {
 public:
  explicit DozodSettings(DOZOD& classifier) : classifier_(classifier) {}
  int GetMaxIter() const override;
  double GetPEnter() const override;
  double GetPRemove() const override;
  double GetThreshold() const override;
  int GetThresholdMode() const override;
  int SetMaxIter(int maxIter) override;
  int SetPRange(double pEnter, double pRemove) override;
  void SetThreshold(double threshold) override;
  // Only 0 and 1 name a mode; any other index leaves the mode unchanged.
  void SetThresholdMode(int mode) override;

 private:
  DOZOD& classifier_;
};

// value x 100.0 truncated toward zero (0.29 gives 28); NaN gives 0 and values
// beyond the int range give its nearest end.
int TruncatedPercent(double value);

// The positions that show the classifier's current settings.
Positions FormActivate(const Settings& settings);

// Stores the positions into the classifier, as pressing OK does: with p enter
// not below p remove, shows kOrderMessage and stores nothing; otherwise stores
// the iteration limit, the p pair (kRangeMessage when refused, the pair then
// unchanged), the threshold and the mode. Returns kModalOk in every case: OK
// closes the form also after a message.
int BitBtnOKClick(const Positions& positions,
                  Settings& settings,
                  MessageSink& messages);

}  // namespace SwldaForm

#endif  // KORVA_UI_SWLDA_FORM_LOGIC_H_
