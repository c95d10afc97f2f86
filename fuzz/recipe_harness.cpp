// The recipe fuzz target: the <Recipe> element of a classifier document, as
// korva reads it back from a model, then its window at a few rates and its
// text for people.
#include "data/dataset.h"
#include "epoching/recipe.h"
#include "fuzz/harnesses.h"

namespace Korva::Fuzz {
namespace {

// "" when the window at `fs` Hz is refused, or is whole bins of samples with
// the baseline, if any, not empty.
std::string CheckWindow(const Epoching::Recipe& r, double fs) {
  Epoching::Window w;
  try {
    w = Epoching::EpochWindow(r, fs);
  } catch (const Data::DataError&) {
    return {};
  }
  if (w.length <= 0 || w.binWidth <= 0 || w.binWidth * r.bins != w.length)
    return "a window that is not whole bins of samples";
  if (r.baseline && w.baselineLength <= 0) return "an empty baseline";
  return {};
}

}  // namespace

std::string FuzzRecipe(const std::uint8_t* data, std::size_t size) {
  const std::string xml(reinterpret_cast<const char*>(data), size);
  Epoching::Recipe recipe;
  try {
    recipe = Epoching::ParseRecipeXml(xml);
  } catch (const Data::DataError& error) {
    return std::string(error.what()).rfind("recipe: ", 0) == 0
               ? ""
               : std::string("a refusal that does not say recipe: ") +
                     error.what();
  }
  if (std::string why = Epoching::CheckRecipe(recipe); !why.empty())
    return "a recipe read back breaks its rules: " + why;
  const std::string written = Epoching::RecipeXml(recipe);
  try {
    if (Epoching::RecipeXml(Epoching::ParseRecipeXml(written)) != written)
      return "the recipe written does not read back the same";
  } catch (const Data::DataError& error) {
    return std::string("the recipe written does not read back: ") +
           error.what();
  }
  for (double fs : {recipe.samplingRate,
                    Recording::kMinSamplingRate,
                    256.0,
                    Recording::kMaxSamplingRate})
    if (fs > 0)
      if (std::string problem = CheckWindow(recipe, fs); !problem.empty())
        return problem;
  try {
    if (Epoching::RecipeText(recipe).empty()) return "no text for people";
  } catch (const Data::DataError&) {
  }
  return {};
}

}  // namespace Korva::Fuzz
