#include "testing/files.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace Korva::Testing {

std::string EdfPlusD(const std::vector<std::string>& parts,
                     int perRecord,
                     int (*digital)(long long),
                     bool bdf) {
  const auto field = [](std::string text, size_t size) {
    text.resize(size, ' ');
    return text;
  };
  const size_t bytes = bdf ? 3 : 2, annotationSamples = 24;
  const std::string low = bdf ? "-8388608" : "-32768",
                    high = bdf ? "8388607" : "32767",
                    kind = bdf ? "BDF" : "EDF";
  std::string file = (bdf ? "\xff" "BIOSEMI" : field("0", 8)) +
                     field("X X X X", 80) + field("Startdate X X X X", 80) +
                     "01.01.2400.00.00768     " + field(kind + "+D", 44) +
                     field(std::to_string(parts.size()), 8) + "1       2   ";
  const std::string fields[] = {"Fz", kind + " Annotations", "", "", "uV", "",
                                "-100", "-1", "100", "1", low, low, high, high,
                                "", "", std::to_string(perRecord), "24", "", ""};
  const size_t sizes[] = {16, 80, 8, 8, 8, 8, 8, 80, 8, 32};
  for (size_t f = 0; f < 20; ++f) file += field(fields[f], sizes[f / 2]);
  for (size_t r = 0; r < parts.size(); ++r) {
    const long long first = static_cast<long long>(r) * perRecord;
    for (long long k = first; k < first + perRecord; ++k)
      for (size_t b = 0; b < bytes; ++b)  // little-endian two's complement
        file += static_cast<char>(digital(k) >> 8 * b);
    file += parts[r] + std::string(annotationSamples * bytes - parts[r].size(), '\0');
  }
  return file;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos;
       at = text.find(what, at + 1))
    ++n;
  return n;
}

std::vector<std::string> Files(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string BinaryBytes(size_t size) {
  std::string bytes(size, '\0');
  unsigned state = 12345;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(i % 7 == 0 ? 0 : state >> 24);
  }
  return bytes;
}

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "korva-XXXXXX").string();
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) fs::remove_all(path_, ignored);
}

}  // namespace Korva::Testing
