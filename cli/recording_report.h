#ifndef KORVA_CLI_RECORDING_REPORT_H_
#define KORVA_CLI_RECORDING_REPORT_H_

// What korva says of recordings cut into epochs: on the terminal as korva
// epochs tells it, and in the HTML report.

#include <iosfwd>

#include "data/dataset.h"
#include "epoching/recipe.h"
#include "report/html_report.h"
#include "sources/recordings.h"
#include "speller/paradigm.h"

namespace Korva::Cli {

// The recipe as used (when `withRecipe`), the readers' notes, one line per
// recording (epochs kept per class, outside the file, rejected, dropped at
// breaks, events skipped) and the codes of the skipped events; `cut` holds
// recordings cut.
void PrintCut(std::ostream& out,
              const Sources::LoadedData& cut,
              bool withRecipe);

// The data's quality warnings on standard error, quiet or not.
void WarnAboutQuality(const Data::Dataset& data);

// "flash markers: target 101; non-target none\n": the markers that label a
// speller's flashes, "" when the recipe has none.
std::string FlashMarkersText(const Epoching::Recipe& recipe);

// What a speller session holds (`loaded.speller`): the layout and how
// selections are delimited, for recordings the recipe as used (when
// `withRecipe`), the flash markers, the notes and one line per recording,
// and the flashes, selections and targets.
void PrintSpeller(std::ostream& out,
                  const Sources::LoadedData& loaded,
                  const Speller::Paradigm& paradigm,
                  bool withRecipe);

// What the report shows of epochs cut by `recipe` (as used, its sampling
// rate known): the centre of each bin in ms after the event, and per feature
// of `data` the class means and r² of feature and label, signed as the
// target mean less the non-target one.
Report::EpochFeatures EpochFeaturesOf(const Data::Dataset& data,
                                      const Epoching::Recipe& recipe);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_RECORDING_REPORT_H_
