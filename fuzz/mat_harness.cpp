#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "data/mat_io.h"
#include "fuzz/dataset_checks.h"
#include "fuzz/harnesses.h"

namespace Korva::Fuzz {

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
      const auto read = [&](const char* names) {
        return TryRead([&] {
          return Data::ReadMat(path, {"X", "y", names}, true);
        });
      };
      const ReadOutcome plain = read(""), named = read("N");
      problem = CheckOutcome(plain, path + ": ", true, 0);
      if (problem.empty())
        problem = CheckOutcome(
            named, path + ": ", true, named.ok ? named.data.cols : 0);
      if (problem.empty() && !plain.ok && named.ok)
        problem = "with the names, a refused file was accepted: " + plain.error;
      if (problem.empty() && plain.ok && named.ok &&
          (named.data.X != plain.data.X ||
           named.data.labels != plain.data.labels))
        problem = "reading the names changed the values";
    } catch (const std::exception& error) {
      problem = OtherException(error);
    }
  }
  close(fd);
  return problem;
}

}  // namespace Korva::Fuzz
