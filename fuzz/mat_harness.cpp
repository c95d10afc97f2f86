#include <sys/mman.h>
#include <unistd.h>

#include "data/mat/mat_io.h"
#include "fuzz/checks.h"
#include "fuzz/harnesses.h"

namespace Korva::Fuzz {

std::string FuzzMat(const std::uint8_t* data, std::size_t size) {
  // libmatio and HDF5 open files by name: a new file in memory per input.
  const int fd = memfd_create("fuzz.mat", 0);
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size))
    return "cannot write the input to a file in memory";
  const auto read = [&](const char* names) {
    return TryRead([&] {
      return Data::ReadMat(path, {"X", "y", names}, true);
    });
  };
  const ReadOutcome plain = read(""), named = read("N");
  close(fd);
  if (std::string problem = CheckOutcome(plain, path + ": ", true, false) +
                            CheckOutcome(named, path + ": ", true, true);
      !problem.empty())
    return problem;
  if (!plain.ok)
    return named.ok
               ? "with the names, a refused file was accepted: " + plain.error
               : "";
  if (named.ok &&
      (named.data.X != plain.data.X || named.data.labels != plain.data.labels))
    return "reading the names changed the values";
  return {};
}

}  // namespace Korva::Fuzz
