// csv_floor DATA.csv: the least a training on a CSV file can cost. Reads the
// file with one read, parses it once on one thread with std::from_chars
// (label first, then the features), and forms the cross-product XᵀX with one
// single-threaded dsyrk. Prints the rows, the columns and the milliseconds of
// each part; the whole process is what bench/run_whole_run_bench.sh times.
#include <cblas.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: csv_floor DATA.csv\n");
    return 2;
  }
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const int fd = ::open(argv[1], O_RDONLY);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) return 1;
  std::string text(static_cast<size_t>(info.st_size), '\0');
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = ::read(fd, &text[done], text.size() - done);
    if (n <= 0) return 1;
    done += static_cast<size_t>(n);
  }
  ::close(fd);

  // Columns from the header; then every value, label first on each line.
  const char* p = text.data();
  const char* end = p + text.size();
  const char* eol = static_cast<const char*>(std::memchr(p, '\n', end - p));
  const int cols = static_cast<int>(std::count(p, eol, ','));
  std::vector<double> X, y;
  X.reserve(text.size() / 6);
  for (p = eol + 1; p < end;) {
    for (int c = 0; c <= cols; ++c) {
      double v = 0.0;
      const auto [next, ec] = std::from_chars(p, end, v);
      if (ec != std::errc()) return 1;
      (c == 0 ? y : X).push_back(v);
      p = next + 1;  // past the comma or the line end
    }
  }
  const int rows = static_cast<int>(y.size());
  const auto parsed = Clock::now();
  std::vector<double> A(static_cast<size_t>(cols) * cols);
  cblas_dsyrk(CblasRowMajor,
              CblasLower,
              CblasTrans,
              cols,
              rows,
              1.0,
              X.data(),
              cols,
              0.0,
              A.data(),
              cols);
  const auto formed = Clock::now();
  const auto ms = [](auto a, auto b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
  };
  std::printf("%d rows, %d columns: parse %.1f ms, dsyrk %.1f ms\n",
              rows,
              cols,
              ms(start, parsed),
              ms(parsed, formed));
  return 0;
}
