// The program's side of the EDF reader library, libkorva_edf.so: it is
// opened on the first EDF or BDF file, so that runs reading other files do
// not load EDFlib. Errors cross the library's boundary as status codes and
// text, never as exceptions.
#include <dlfcn.h>

#include <stdexcept>

#include "data/dataset.h"
#include "data/reader_library.h"
#include "recording/readers.h"
#include "recording/recording_base.h"

namespace Korva::Recording {
namespace {

struct EdfLibrary {
  decltype(&korva_open_edf) open = nullptr;
  decltype(&korva_read_edf_channel) read = nullptr;
  std::string reason;
};

// Opened once and kept: the recordings it opened run its code.
const EdfLibrary& Library() {
  static const EdfLibrary library = [] {
    EdfLibrary l;
    void* handle = Data::OpenReaderLibrary("libkorva_edf.so", l.reason);
    if (handle == nullptr) return l;
    l.open = reinterpret_cast<decltype(&korva_open_edf)>(
        ::dlsym(handle, "korva_open_edf"));
    l.read = reinterpret_cast<decltype(&korva_read_edf_channel)>(
        ::dlsym(handle, "korva_read_edf_channel"));
    if (l.open == nullptr || l.read == nullptr)
      l.reason = "its entry points are missing";
    return l;
  }();
  return library;
}

Header CopyHeader(const Recording& r) {
  return {r.Path(),
          r.Format(),
          r.SamplingRate(),
          r.Samples(),
          r.Channels(),
          r.Events(),
          r.Notes(),
          r.SamplingRateSource(),
          r.SamplingRateUncertainty(),
          r.Breaks(),
          r.Files()};
}

// A recording the library opened, read through the library's entry point.
class LibraryRecording : public RecordingBase {
 public:
  explicit LibraryRecording(std::unique_ptr<Recording> inner)
      : RecordingBase(CopyHeader(*inner)), inner_(std::move(inner)) {}

  void ReadChannel(int c, std::vector<double>& out) override {
    std::string error;
    if (const int status = Library().read(inner_.get(), c, &out, &error))
      Data::ThrowStatus(status, error);
  }

 private:
  std::unique_ptr<Recording> inner_;
};

}  // namespace

std::unique_ptr<RecordingBase> OpenEdf(const std::string& path) {
  const EdfLibrary& library = Library();
  if (library.open == nullptr || library.read == nullptr)
    Fail(path,
         "cannot read EDF and BDF files: the EDF reader "
         "libkorva_edf.so cannot be loaded" +
             (library.reason.empty() ? "" : " (" + library.reason + ")"));
  Recording* opened = nullptr;
  std::string error;
  if (const int status = library.open(path.c_str(), &opened, &error))
    Data::ThrowStatus(status, error);
  return std::make_unique<LibraryRecording>(std::unique_ptr<Recording>(opened));
}

}  // namespace Korva::Recording
