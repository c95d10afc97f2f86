#include "cli/recording_report.h"

#include <cmath>
#include <map>
#include <ostream>

#include "cli/texts.h"
#include "text/number_text.h"
#include "korva/text.h"

namespace Korva::Cli {
namespace {

// The epochs of a run cut without labels, and those dropped.
std::string UnlabelledRun(const Epoching::RunReport& run) {
  std::string text = std::to_string(run.kept.unlabelled) +
                     " epochs without labels (no event of the target list)";
  if (run.outside.unlabelled > 0)
    text += "; outside the file " + std::to_string(run.outside.unlabelled);
  if (run.rejected.unlabelled > 0)
    text += "; rejected " + std::to_string(run.rejected.unlabelled);
  if (run.atBreaks.unlabelled > 0)
    text += "; at breaks " + std::to_string(run.atBreaks.unlabelled);
  return text;
}

std::string Join(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items)
    text += (text.empty() ? "" : ", ") + item;
  return text.empty() ? "none" : text;
}

// "T target and N non-target flashes", or "U flashes" when not labelled.
std::string Flashes(const Epoching::ClassCounts& c) {
  if (c.unlabelled > 0 || c.target + c.nonTarget == 0)
    return std::to_string(c.unlabelled + c.target + c.nonTarget) + " flashes";
  return std::to_string(c.target) + " target and " +
         std::to_string(c.nonTarget) + " non-target flashes";
}

}  // namespace

void PrintCut(std::ostream& out,
              const Sources::LoadedData& cut,
              bool withRecipe) {
  // Channel names, event codes and notes come from the files: cleaned, so
  // that a file cannot send escape sequences to the terminal.
  const Epoching::ExtractReport& report = *cut.cut;
  if (withRecipe) out << CleanText(Epoching::RecipeText(report.recipe));
  for (const std::string& note : cut.notes)
    out << "note: " << CleanText(note) << '\n';
  std::map<std::string, long long> skipped;
  for (size_t k = 0; k < report.runs.size(); ++k) {
    const Epoching::RunReport& run = report.runs[k];
    long long others = 0;
    for (const auto& [code, count] : run.skipped) {
      skipped[code] += count;
      others += count;
    }
    out << "run " << k + 1 << ", " << run.path;
    if (run.resampledFrom > 0)
      out << " (resampled from " << Text::FormatDouble(run.resampledFrom)
          << " Hz)";
    out << ": ";
    if (!run.labelled) {
      out << UnlabelledRun(run);
    } else {
      out << run.kept.target << " target and " << run.kept.nonTarget
          << " non-target epochs";
      if (run.outside.target + run.outside.nonTarget > 0)
        out << "; outside the file " << run.outside.target << " target, "
            << run.outside.nonTarget << " non-target";
      if (run.rejected.target + run.rejected.nonTarget > 0)
        out << "; rejected " << run.rejected.target << " target, "
            << run.rejected.nonTarget << " non-target";
      if (run.atBreaks.target + run.atBreaks.nonTarget > 0)
        out << "; at breaks " << run.atBreaks.target << " target, "
            << run.atBreaks.nonTarget << " non-target";
    }
    out << "; " << others << " events skipped\n";
  }
  if (skipped.empty()) return;
  out << "skipped events (in neither list):";
  for (const auto& [code, count] : skipped)
    out << " \"" << CleanText(code) << "\" " << count;
  out << '\n';
}

void WarnAboutQuality(const Data::Dataset& data) {
  for (const std::string& warning : data.quality) Warn(warning);
}

Report::EpochFeatures EpochFeaturesOf(const Data::Dataset& data,
                                      const Epoching::Recipe& recipe) {
  Report::EpochFeatures e;
  const double fs = recipe.samplingRate;
  const Epoching::Window w = Epoching::EpochWindow(recipe, fs);
  for (int b = 0; b < recipe.bins; ++b)
    e.binMs.push_back((w.start + b * w.binWidth + (w.binWidth - 1) / 2.0) *
                      1000.0 / fs);
  // Two passes: the class sums, then the squares about the mean, which
  // stay accurate on features with a large offset.
  std::vector<double> sum1(data.cols), sum0(data.cols), squares(data.cols);
  double n1 = 0, n0 = 0;
  for (int r = 0; r < data.rows; ++r) {
    const bool target = data.labels[r] > 0;
    (target ? n1 : n0) += 1;
    std::vector<double>& sum = target ? sum1 : sum0;
    for (int c = 0; c < data.cols; ++c) sum[c] += data.At(r, c);
  }
  const double n = n1 + n0;
  for (int r = 0; r < data.rows; ++r)
    for (int c = 0; c < data.cols; ++c) {
      const double d = data.At(r, c) - (sum1[c] + sum0[c]) / n;
      squares[c] += d * d;
    }
  for (int c = 0; c < data.cols; ++c) {
    const double m1 = sum1[c] / n1, m0 = sum0[c] / n0;
    const double variance = squares[c] / n;
    // The point-biserial correlation of the feature and the label.
    const double r =
        variance > 0 ? (m1 - m0) * std::sqrt(n1 * n0) / n / std::sqrt(variance)
                     : 0.0;
    e.targetMean.push_back(m1);
    e.nonTargetMean.push_back(m0);
    e.signedR2.push_back(r * std::abs(r));
  }
  return e;
}

std::string FlashMarkersText(const Epoching::Recipe& recipe) {
  if (recipe.targets.empty() && recipe.nonTargets.empty()) return "";
  return "flash markers: target " + Join(recipe.targets) + "; non-target " +
         Join(recipe.nonTargets) + "\n";
}

void PrintSpeller(std::ostream& out,
                  const Sources::LoadedData& loaded,
                  const Speller::Paradigm& paradigm,
                  bool withRecipe) {
  const Speller::Session& s = *loaded.speller;
  out << Speller::ParadigmText(paradigm) << '\n';
  if (loaded.cut) {
    const Epoching::ExtractReport& report = *loaded.cut;
    if (withRecipe) out << Epoching::RecipeText(report.recipe, false);
    out << FlashMarkersText(report.recipe);
    for (const std::string& note : loaded.notes)
      out << "note: " << note << '\n';
    for (size_t k = 0; k < report.runs.size(); ++k) {
      const Epoching::RunReport& run = report.runs[k];
      long long skipped = 0;
      for (const auto& [code, count] : run.skipped) skipped += count;
      out << "run " << k + 1 << ", " << run.path << ": " << Flashes(run.kept);
      long long dropped = 0;
      for (const auto* c : {&run.outside, &run.rejected, &run.atBreaks})
        dropped += c->target + c->nonTarget + c->unlabelled;
      if (dropped > 0)
        out << "; " << dropped << " outside the file, at breaks or rejected";
      out << "; " << skipped << " other events skipped\n";
    }
  }
  std::string targets;
  for (const std::optional<int>& target : s.targets)
    targets += target ? s.layout.symbols[*target] : "?";
  out << s.codes.size() << " flashes in " << s.Selections()
      << " selections; targets "
      << (s.TargetsKnown() ? targets : targets + " (? not known)") << '\n';
}

}  // namespace Korva::Cli
