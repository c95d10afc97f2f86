#include "cli/exit_status.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "data/dataset.h"
#include "fieldtrip/protocol.h"
#include "korva/hostkit/error.h"
#include "korva/text.h"
#include "sources/source_error.h"
#include "speller/error.h"
#include "validation/error.h"

namespace Korva::Cli {
namespace {

int StatusOf(HostKit::ErrorKind kind) {
  switch (kind) {
    case HostKit::ErrorKind::kSettings:
      return kExitUsage;
    case HostKit::ErrorKind::kData:
      return kExitData;
    case HostKit::ErrorKind::kModule:
      return kExitModule;
    case HostKit::ErrorKind::kModel:
      return kExitModel;
    case HostKit::ErrorKind::kTrainingFailed:
      return kExitTrainingFailed;
    case HostKit::ErrorKind::kTrainingException:
      return kExitTrainingException;
    case HostKit::ErrorKind::kOutput:
      return kExitOutput;
  }
  return 1;
}

int StatusOf(Validation::ErrorKind kind) {
  switch (kind) {
    case Validation::ErrorKind::kScheme:
      return kExitUsage;
    case Validation::ErrorKind::kData:
      return kExitData;
    case Validation::ErrorKind::kTrainingFailed:
      return kExitTrainingFailed;
    case Validation::ErrorKind::kTrainingException:
      return kExitTrainingException;
  }
  return 1;
}

int StatusOf(Sources::ErrorKind kind) {
  return kind == Sources::ErrorKind::kModel ? kExitModel : kExitUsage;
}

// The speller refuses settings, data and models as the host kit does.
int StatusOf(Speller::ErrorKind kind) {
  switch (kind) {
    case Speller::ErrorKind::kSettings:
      return StatusOf(HostKit::ErrorKind::kSettings);
    case Speller::ErrorKind::kData:
      return StatusOf(HostKit::ErrorKind::kData);
    case Speller::ErrorKind::kModel:
      return StatusOf(HostKit::ErrorKind::kModel);
  }
  return 1;
}

int Fail(const std::exception& error, int status) {
  std::cerr << "korva: error: " << CleanText(error.what()) << '\n';
  return status;
}

int FinishStandardOutput(int status) {
  errno = 0;
  std::cout.flush();
  const bool flushed = std::fflush(stdout) == 0;
  int error = errno;
  if (flushed && std::cout && !std::ferror(stdout)) return status;
  // A closed standard output is held open for reading only
  // (ReserveStandardDescriptors); the first failed write may have been long
  // before, its errno gone.
  const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
  if (error == 0 && (flags < 0 || (flags & O_ACCMODE) == O_RDONLY))
    error = EBADF;
  std::cerr << "korva: error: cannot write standard output"
            << (error == EBADF ? ": it is closed or not open for writing"
                : error        ? std::string(": ") + std::strerror(error)
                               : "")
            << '\n';
  return status == kExitOk ? kExitOutput : status;
}

}  // namespace

int RunCommand(const std::function<int()>& command) {
  try {
    return FinishStandardOutput(command());
  } catch (const CliError& error) {
    return Fail(error, error.Code());
  } catch (const HostKit::Error& error) {
    return Fail(error, StatusOf(error.Kind()));
  } catch (const Validation::Error& error) {
    return Fail(error, StatusOf(error.Kind()));
  } catch (const Sources::Error& error) {
    return Fail(error, StatusOf(error.Kind()));
  } catch (const Speller::Error& error) {
    return Fail(error, StatusOf(error.Kind()));
  } catch (const Data::DataError& error) {
    return Fail(error, kExitData);
  } catch (const FieldTrip::Error& error) {
    // A buffer that cannot be reached, goes away or breaks the protocol is
    // a stream that cannot be read.
    return Fail(error, kExitData);
  } catch (const std::exception& error) {
    return Fail(error, 1);
  }
}

}  // namespace Korva::Cli
