#ifndef KORVA_SPELLER_PARADIGM_H_
#define KORVA_SPELLER_PARADIGM_H_

// How a speller's recordings mark its flashes and selections, as a model
// keeps it beside its recipe:
//   <Speller Layout="6x6" Symbols="AB...9_" SelectionFlashes="0">
//     <SelectionEvent Event="100"/>
//     <Code Value="1" Items="AGMSY5"/> ...   (a layout table only)
//   </Speller>

#include <string>
#include <vector>

#include "speller/layout.h"

namespace Korva::Speller {

struct Paradigm {
  Layout layout;
  // Recordings: a selection starts at each of these events ...
  std::vector<std::string> selectionEvents;
  // ... or holds this many flashes (0: delimited by events).
  int selectionFlashes = 0;
};

// The <Speller> element of `paradigm`.
std::string ParadigmXml(const Paradigm& paradigm);

// Reads what ParadigmXml writes. Error(kData), naming what is missing or
// damaged, otherwise.
Paradigm ParseParadigmXml(const std::string& xml);

// One line for people: the layout and how selections are delimited.
std::string ParadigmText(const Paradigm& paradigm);

}  // namespace Korva::Speller

#endif  // KORVA_SPELLER_PARADIGM_H_
