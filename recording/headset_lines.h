#ifndef KORVA_RECORDING_HEADSET_LINES_H_
#define KORVA_RECORDING_HEADSET_LINES_H_

// Headset CSV text taken a line at a time, as another program writes it:
// metadata lines ('%' or '#') and blank lines, the header line, then one row
// per sample. The columns are those OpenHeadsetCsv finds (recording.h): the
// channels are the columns whose first value is a number, the marker column
// among them, and an event starts at a row whose marker is not 0 and differs
// from the row before. The time column is not read: the rate is given.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recording/recording.h"

namespace Korva::Recording {

class HeadsetLines {
 public:
  // `name` names the text in messages ("standard input"); `options` as for
  // OpenRecording (the marker column).
  HeadsetLines(std::string name, const OpenOptions& options);
  ~HeadsetLines();

  // What a line was.
  enum class Line { kSkipped, kHeader, kRow };

  // Takes the next line (without its line end). A row's values go to `row`,
  // one per channel in Channels() order, and its event, if it starts one,
  // to `event` (reset otherwise). DataError naming the line: a header
  // without a marker column, a row with another number of fields than the
  // header, a channel's field that is not a finite number.
  Line Take(std::string_view line,
            std::vector<double>& row,
            std::optional<Event>& event);

  // The channels, known from the first row on.
  const std::vector<Channel>& Channels() const;
  // Notes as OpenHeadsetCsv gives them (columns left out), from the first
  // row on.
  const std::vector<std::string>& Notes() const;
  long long Rows() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace Korva::Recording

#endif  // KORVA_RECORDING_HEADSET_LINES_H_
