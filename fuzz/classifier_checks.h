#ifndef KORVA_FUZZ_CLASSIFIER_CHECKS_H_
#define KORVA_FUZZ_CLASSIFIER_CHECKS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "testing/dozod_probe.h"

namespace Korva::Fuzz {

using ProbeDozod = Korva::Testing::DozodProbe;

// Calls, on a classifier in whatever state a read or a training left it,
// everything a host may call next: CanClassify, the three reports, GetScore
// with a vector of the right and of a wrong length, SortScoresFirstBest,
// SaveToFile (to /dev/null) and Write. Then saves the document as text, reads
// it into a fresh object and compares. Returns "" when every check holds,
// else what failed.
std::string ExerciseClassifier(ProbeDozod& dozod);

// "" when the flag count equals the weight count (true after every read and
// every training that returned 0), else what differs.
std::string CheckLengthsAgree(const ProbeDozod& dozod);

// True when a and b are the same double, NaN equal to NaN.
bool SameDouble(double a, double b);

}  // namespace Korva::Fuzz

#endif  // KORVA_FUZZ_CLASSIFIER_CHECKS_H_
