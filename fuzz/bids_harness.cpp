// The BIDS sidecar target: an events or channels table as text.
#include <string_view>

#include "fuzz/harnesses.h"
#include "sources/bids.h"

namespace Korva::Fuzz {

std::string FuzzBidsTsv(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  const std::string_view text(reinterpret_cast<const char*>(data + 1),
                              size - 1);
  const std::string file = "fuzz.tsv";
  try {
    if (data[0] & 1) {
      // Texts are made UTF-8: a Latin-1 byte becomes two.
      for (const Sources::ChannelRow& row : Sources::ParseChannelsTsv(text, file))
        if (row.name.size() > 2 * text.size() ||
            row.type.size() > 2 * text.size())
          return "a channel's name or type is longer than twice the file";
    } else {
      std::vector<std::string> notes;
      const double rate = 1 + (data[0] >> 1);
      for (const Recording::Event& event :
           Sources::ParseEventsTsv(text, rate, file, notes))
        if (event.code.empty() || event.code.size() > 2 * text.size())
          return "an event without a code, or one longer than twice the file";
    }
  } catch (const Data::DataError& error) {
    if (std::string_view(error.what()).rfind(file, 0) != 0)
      return std::string("a refusal does not name the file: ") + error.what();
  }
  return {};
}

}  // namespace Korva::Fuzz
