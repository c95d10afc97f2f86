#ifndef KORVA_STATUS_H_
#define KORVA_STATUS_H_

namespace Korva {

// Status codes of the host and its classifiers (0 is success).
constexpr int kStatusOk = 0;
constexpr int kStatusRejected = -10;        // argument out of range
constexpr int kStatusMissing = -20;         // no object where one is needed
constexpr int kStatusWrongDocument = -30;   // not a document of this classifier
constexpr int kStatusMissingSection = -31;  // a section element is absent
constexpr int kStatusFileError = -40;       // a file could not be read

}  // namespace Korva

#endif  // KORVA_STATUS_H_
