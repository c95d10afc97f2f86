#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <exception>
#include <string>

#include "data/dataset.h"
#include "data/mat_io.h"
#include "fuzz/harnesses.h"

namespace Korva::Fuzz {
namespace {

struct Outcome {
  bool ok = false;
  Data::Dataset data;
  std::string error;
};

Outcome Read(const std::string& path, const Data::MatVariables& variables) {
  Outcome outcome;
  try {
    outcome.data = Data::ReadMat(path, variables, true);
    outcome.ok = true;
  } catch (const Data::DataError& error) {
    outcome.error = error.what();
  }
  return outcome;
}

std::string CheckShape(const Outcome& outcome,
                       const std::string& path,
                       bool withNames) {
  if (!outcome.ok) {
    if (outcome.error.rfind(path + ": ", 0) != 0)
      return "a refusal does not name the file: " + outcome.error;
    return {};
  }
  const Data::Dataset& d = outcome.data;
  if (d.rows <= 0 || d.cols <= 0)
    return "an accepted set has no rows or columns";
  if (d.X.size() != static_cast<std::size_t>(d.rows) * d.cols)
    return "the value count is not rows x columns";
  if (!d.hasLabels || d.labels.size() != static_cast<std::size_t>(d.rows))
    return "the label count is not the row count";
  if (d.names.size() != (withNames ? static_cast<std::size_t>(d.cols) : 0))
    return "the name count is not the column count";
  for (double v : d.X)
    if (!std::isfinite(v)) return "an accepted value is not finite";
  for (double v : d.labels)
    if (!std::isfinite(v)) return "an accepted label is not finite";
  return {};
}

}  // namespace

std::string FuzzMat(const std::uint8_t* data, std::size_t size) {
  // libmatio and HDF5 open files by name: a new file in memory per input.
  const int fd = memfd_create("fuzz.mat", 0);
  if (fd < 0) return "memfd_create failed";
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  std::string problem;
  if (write(fd, data, size) != static_cast<ssize_t>(size)) {
    problem = "cannot write the input to a file in memory";
  } else {
    try {
      const Outcome plain = Read(path, {"X", "y", ""});
      const Outcome named = Read(path, {"X", "y", "N"});
      problem = CheckShape(plain, path, false);
      if (problem.empty()) problem = CheckShape(named, path, true);
      if (problem.empty() && !plain.ok && named.ok)
        problem = "with the names, a refused file was accepted: " + plain.error;
      if (problem.empty() && plain.ok && named.ok &&
          (named.data.X != plain.data.X ||
           named.data.labels != plain.data.labels))
        problem = "reading the names changed the values";
    } catch (const std::exception& error) {
      problem =
          std::string("the reader threw something else than DataError: ") +
          error.what();
    }
  }
  close(fd);
  return problem;
}

}  // namespace Korva::Fuzz
