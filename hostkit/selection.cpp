#include "hostkit/selection.h"

#include <pugixml.hpp>
#include <string>

#include "korva/hostkit/error.h"
#include "korva/info_section.h"

namespace Korva::HostKit {

Selection ReadSelection(ClassifierBase& classifier) {
  pugi::xml_document document;
  if (int status = classifier.Write(document); status != kStatusOk)
    throw Error(ErrorKind::kModel,
                "the classifier could not describe itself (status " +
                    std::to_string(status) + ")");
  const pugi::xml_node info = document.child(kDocumentRoot).child(kInfoSection);
  const long long count = info.attribute(kCountAttribute).as_llong(0);
  if (count < 0 || count > kMaxFeatureCount)
    throw Error(ErrorKind::kModel,
                "the classifier reports an impossible feature count " +
                    std::to_string(count));
  Selection selection;
  selection.features = static_cast<int>(count);
  selection.selected =
      ReadFlagsText(info.child(kFlagsElement).text().get(), count);
  selection.weights =
      ReadWeightsText(info.child(kWeightsElement).text().get(), count);
  return selection;
}

}  // namespace Korva::HostKit
