// korva._korva.read_recording: a continuous recording, opened through the
// data-source layer as korva opens it, read channel by channel into one
// array (korva/_recording.py wraps it).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "data/dataset.h"
#include "recording/recording.h"
#include "recording/recording_base.h"
#include "sources/recordings.h"
#include "sources/source_error.h"

namespace py = pybind11;

namespace Korva::Python {
namespace {

// (data, sfreq, ch_names, units, eeg, types, events, format, notes,
// breaks): data is channels x samples in microvolts, events a list of
// (sample, code), breaks of (sample, why).
py::tuple ReadRecording(const std::string& path,
                        std::optional<std::string> markerColumn,
                        std::optional<double> samplingRate,
                        std::optional<std::string> eegStream,
                        std::optional<std::string> markerStream) {
  Recording::OpenOptions options;
  options.markerColumn = markerColumn.value_or("");
  options.samplingRate = samplingRate;
  options.eegStream = eegStream.value_or("");
  options.markerStream = markerStream.value_or("");
  std::unique_ptr<Recording::Recording> recording;
  try {
    py::gil_scoped_release release;
    recording =
        std::move(Sources::OpenRecordings({path}, options).runs.front());
  } catch (const Data::DataError& e) {
    throw py::value_error(Recording::AsUtf8(e.what()));
  } catch (const Sources::Error& e) {
    throw py::value_error(Recording::AsUtf8(e.what()));
  }
  const auto channels = static_cast<py::ssize_t>(recording->Channels().size());
  const py::ssize_t samples = recording->Samples();
  py::array_t<double> data({channels, samples});
  double* to = data.mutable_data();
  try {
    py::gil_scoped_release release;
    std::vector<double> values;
    for (py::ssize_t c = 0; c < channels; ++c) {
      recording->ReadChannel(static_cast<int>(c), values);
      std::copy(values.begin(), values.end(), to + c * samples);
    }
  } catch (const Data::DataError& e) {
    throw py::value_error(Recording::AsUtf8(e.what()));
  }
  std::vector<std::string> names, units, types;
  std::vector<bool> eeg;
  for (const Recording::Channel& channel : recording->Channels()) {
    names.push_back(channel.name);
    units.push_back(channel.unit);
    eeg.push_back(channel.eeg);
    types.push_back(channel.type);
  }
  py::list events, breaks;
  for (const Recording::Event& event : recording->Events())
    events.append(py::make_tuple(event.sample, event.code));
  for (const Recording::Break& b : recording->Breaks())
    breaks.append(py::make_tuple(b.sample, b.why));
  return py::make_tuple(data,
                        recording->SamplingRate(),
                        names,
                        units,
                        eeg,
                        types,
                        events,
                        recording->Format(),
                        recording->Notes(),
                        breaks);
}

}  // namespace

void BindRecording(py::module_& m) {
  m.def("read_recording",
        &ReadRecording,
        py::arg("path"),
        py::arg("marker_column") = py::none(),
        py::arg("sampling_rate") = py::none(),
        py::arg("xdf_eeg") = py::none(),
        py::arg("xdf_markers") = py::none(),
        "(data, sfreq, ch_names, units, eeg, types, events, format, notes, "
        "breaks) of a continuous recording.");
}

}  // namespace Korva::Python
