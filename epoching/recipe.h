#ifndef KORVA_EPOCHING_RECIPE_H_
#define KORVA_EPOCHING_RECIPE_H_

// The recipe that turns continuous recordings into epoch features: which
// events, which channels, the filter, the window and its bins. A model keeps
// the recipe it was trained with, so that new recordings are cut the same
// way; docs/data-formats.md gives the arithmetic.

#include <optional>
#include <string>
#include <vector>

#include "recording/recording.h"

namespace pugi {
class xml_node;
}

namespace Korva::Epoching {

enum class Reference { kNone, kAverage };

// An interval in milliseconds after the event, its end excluded.
struct Interval {
  double startMs = 0;
  double endMs = 0;
};

struct Band {
  double low = 0;  // Hz
  double high = 0;
};

// The recipe's defaults, the classic P300 ones, and the limits of its
// numbers, written here only: Recipe's members and CheckRecipe read them,
// and so do korva's help and the defaults of Python's extract_epochs.
constexpr double kDefaultBandLowHz = 0.5;
constexpr double kDefaultBandHighHz = 30;
constexpr int kDefaultFilterOrder = 4;
constexpr int kMinFilterOrder = 1;
constexpr int kMaxFilterOrder = 8;  // the most sections the band-pass holds
constexpr double kDefaultWindowStartMs = 0;
// The end of a window given without one, moved to a whole number of bins.
constexpr double kDefaultWindowMs = 800;
constexpr int kDefaultBins = 20;
constexpr int kMinBins = 1;
constexpr int kMaxBins = 1000;
// Resampling: the rate asked, and the factors up and down of a rate's ratio
// to it (resample.h), whose filter has 20 max(up, down) + 1 taps.
constexpr double kMaxResampleHz = 100000;
constexpr long long kMaxResampleFactor = 1000;
// The farthest from its event a window or baseline may reach, either way:
// hours, far beyond any epoch, and at the fastest rate a recording may have
// (Recording::kMaxSamplingRate) far from overflowing a sample count.
constexpr double kMaxReachMs = 1e7;

// A recipe as constructed holds the defaults: the band above, no baseline,
// no rejection, the recording's own reference.
struct Recipe {
  std::vector<std::string> targets;     // events labelled +1 (EventMatches)
  std::vector<std::string> nonTargets;  // events labelled -1
  std::vector<std::string> channels;    // empty: every EEG channel of the
                                        // first run that no run marks as
                                        // not EEG
  Reference reference = Reference::kNone;
  std::optional<Band> band =
      Band{kDefaultBandLowHz, kDefaultBandHighHz};  // none: no filter
  int filterOrder = kDefaultFilterOrder;
  double windowStartMs = kDefaultWindowStartMs;
  std::optional<double> windowEndMs;  // none: kDefaultWindowMs, in whole bins
  int bins = kDefaultBins;
  std::optional<Interval> baseline;        // inside the window
  std::optional<double> rejectMicrovolts;  // peak-to-peak limit per channel
  // Every recording resampled to this rate (Hz) before it is filtered;
  // none: each is cut at its own rate.
  std::optional<double> resampleHz;
  double samplingRate = 0;  // Hz of the features (of the recordings it was
                            // made from, or resampleHz); 0: any
};

// Empty when the recipe's own values are usable (whatever the recording),
// else why not, naming the option: event lists given and disjoint, channel
// names distinct, no event or channel name with a control character,
// 0 < low < high, order kMinFilterOrder .. kMaxFilterOrder, window start
// before its end, window and baseline within kMaxReachMs of the event,
// kMinBins .. kMaxBins bins, a positive reject limit, a sampling rate of 0
// or one a recording may have, finite numbers. Without `eventListsRequired`
// (a recipe whose epochs are chosen by its caller, a speller's flashes) the
// lists may be empty.
std::string CheckRecipe(const Recipe& recipe, bool eventListsRequired = true);

// True when the event `code` of a file is what the list entry `entry` names.
// Stimulus numbers match by number: "2", "S2", "S  2", "Stimulus/S  2" (any
// blanks after the S, leading zeros ignored) are all stimulus 2, in the list
// and in the file. Any other text matches the same text exactly (case
// counts); blanks around either are ignored.
bool EventMatches(const std::string& entry, const std::string& code);

// True when an entry of `list` names `event` by its code or its alias.
bool EventIn(const std::vector<std::string>& list,
             const Recording::Event& event);

// The window of an epoch in samples at `fs` Hz, relative to the event.
struct Window {
  long long start = 0;   // round(windowStartMs · fs / 1000)
  long long length = 0;  // samples, bins · binWidth
  long long binWidth = 0;
  long long baselineStart = 0;   // round(baseline startMs · fs / 1000)
  long long baselineLength = 0;  // 0: no baseline
};

// The recipe's window at `fs` Hz (halves rounded away from zero). Without
// an end, it holds bins · max(1, round((round(800 · fs / 1000) - start) /
// bins)) samples. Throws Data::DataError when the window does not divide
// into the bins (naming the bin counts and window ends that fit), is empty,
// or the baseline is empty, or when an end lies more than 2^40 samples from
// the event (checked in doubles, before any is made a sample count).
Window EpochWindow(const Recipe& recipe, double fs);

// Whether `recording` may be read at `rate`: its own rate within a relative
// 1e-6 of it, or within the uncertainty of a rate from time stamps.
bool RateHolds(const Recording::Recording& recording, double rate);

// Which of the recipe's event lists a recording must match.
enum class EventCheck {
  kBothLists,        // a labelled set: targets and non-targets
  kTargetsOptional,  // a set that may be unlabelled: the non-target list
  kNone,             // epochs chosen by the caller
};

// Throws Data::DataError naming the file and what differs when `recording`
// cannot be cut by `recipe`: another sampling rate (RateHolds) than the
// recipe's when it has one (the rate of a recording
// resampled, Resampled of resample.h), a channel of the recipe
// missing (the message lists the file's channels), an event list that
// `events` asks for and that matches none of its events (the message lists
// its event codes); lists of more than 20 end in "and N more".
void CheckRecording(const Recipe& recipe,
                    const Recording::Recording& recording,
                    EventCheck events = EventCheck::kBothLists);

// The settings as the command line takes them and the <Recipe> element
// writes them, numbers in the shortest text that reads back to the same
// double: "none" or "average"; "0.5,30" or "none"; "0,auto" or "0,800";
// "-100,0" or "none"; "150" or "none"; "256" or "none".
std::string ReferenceText(Reference reference);
std::string BandText(const Recipe& recipe);
std::string WindowText(const Recipe& recipe);
std::string BaselineText(const Recipe& recipe);
std::string RejectText(const Recipe& recipe);
std::string ResampleText(const Recipe& recipe);

// The <Recipe> element: every setting as above, Resample only when it is
// set (older documents lack it); lists as child elements.
std::string RecipeXml(const Recipe& recipe);
void AppendRecipe(pugi::xml_node parent, const Recipe& recipe);

// Reads what RecipeXml writes. Throws Data::DataError naming the attribute
// or element that is missing or damaged, or the rule CheckRecipe (with
// `eventListsRequired`) finds broken.
Recipe ParseRecipeXml(const std::string& xml, bool eventListsRequired = true);
Recipe ReadRecipe(const pugi::xml_node& recipe, bool eventListsRequired = true);

// A few lines for people: events (unless `events` is false), channels and
// reference, filter, window.
std::string RecipeText(const Recipe& recipe, bool events = true);

}  // namespace Korva::Epoching

#endif  // KORVA_EPOCHING_RECIPE_H_
