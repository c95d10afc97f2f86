#include "text/delimiter.h"

namespace Korva::Text {

char DetectDelimiter(std::string_view header) {
  for (const char delimiter : {',', ';', '\t'})
    if (header.find(delimiter) != std::string_view::npos) return delimiter;
  return 0;
}

}  // namespace Korva::Text
