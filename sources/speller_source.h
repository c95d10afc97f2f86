#ifndef KORVA_SOURCES_SPELLER_SOURCE_H_
#define KORVA_SOURCES_SPELLER_SOURCE_H_

// A speller session as the data of a request: one row per flash, with its
// stimulus code and selection beside the features, and the selections'
// targets.
//
// Recordings: every event whose stimulus number is a code of the layout is
// a flash, cut into an epoch by the recipe's channels, filter and window.
// A selection starts at each event of the paradigm's selection events, or
// holds its count of flashes; flashes before the first selection event are
// skipped and counted. A marker of the recipe's target list at a flash's
// sample marks it a target flash, one of its non-target list a non-target.
// Feature tables: the columns "selection" (the selection's number) and
// "code" (the flash's code), read beside the features, and optionally the
// labels.
//
// Targets come from the target text (one symbol per selection, in order),
// else from the marked or labelled flashes (Speller::TargetOfLabels); the
// flashes' labels then follow from the layout (Speller::FlashLabel).

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sources/recordings.h"
#include "speller/paradigm.h"

namespace Korva::Sources {

struct DataSource;

// What a request asks of a speller session.
struct SpellerRequest {
  Speller::Paradigm paradigm;
  std::string targetText;  // one symbol per selection; "" none
  // Every selection's target must be known (training): Error(kUsage)
  // naming the first that is not.
  bool targetsRequired = false;
};

// What an event of a speller recording is, by its text.
struct SpellerEventKind {
  int code = 0;        // the layout code it flashes; 0: no flash
  bool start = false;  // it starts a selection (the paradigm's events)
  int mark = 0;        // +1: marks a target flash (the recipe's target
                       // list), -1 a non-target one (its non-target list)
};

// The kinds of event texts under a paradigm and recipe, each found once.
class SpellerEvents {
 public:
  // `p` and `r` must outlive it.
  SpellerEvents(const Speller::Paradigm& p, const Epoching::Recipe& r)
      : p_(p), r_(r) {}
  const SpellerEventKind& Of(const std::string& text);

 private:
  const Speller::Paradigm& p_;
  const Epoching::Recipe& r_;
  std::map<std::string, SpellerEventKind> kinds_;
};

// Error(kUsage) when a marker list of `r` or `p` names an event that is
// also a code of the layout: the event could not be both.
void RefuseCodeMarkers(const Speller::Paradigm& p, const Epoching::Recipe& r);

// The flashes of the recordings of `source`, cut by `recipe` (a speller's:
// its event lists may be empty). Data::DataError as Epoching::CutEpochs, or
// when a recording holds no flash; Speller::Error for what the layout and
// the targets refuse; Error(kUsage) when the paradigm delimits no
// selection, a marker list names a code of the layout, or a target is
// missing where required.
LoadedData CutSpeller(const DataSource& source,
                      const Epoching::Recipe& recipe,
                      const SpellerRequest& request);

// The flashes of a feature table already read (`data`, named `what`): its
// side columns "selection" and "code" make the session. Data::DataError
// when one is missing or a code is not a whole number from 1; the rest as
// CutSpeller.
LoadedData SpellerTable(Data::Dataset data,
                        const std::string& what,
                        const SpellerRequest& request);

// The paradigm `model` (named `what`, "model m.xml") keeps; nothing for a
// model not trained on a speller session. Error(kModel) when it cannot be
// read.
std::optional<Speller::Paradigm> ModelParadigm(
    const HostKit::TrainedModel& model, const std::string& what);

}  // namespace Korva::Sources

#endif  // KORVA_SOURCES_SPELLER_SOURCE_H_
