#include "data/mat/mat_layout.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

namespace Korva::Data {
namespace {

constexpr const char* kTruncated =
    "the file ends before its data (truncated or damaged)";
constexpr const char* kBadStream =
    "its compressed data ends early or is corrupt (truncated or damaged)";
constexpr const char* kOverrun =
    "a part of it is larger than the variable holds (damaged)";
constexpr const char* kShortData =
    "it holds fewer values than its dimensions declare (damaged)";

// Version 5 data types and classes.
constexpr std::uint32_t kMiInt8 = 1;
constexpr std::uint32_t kMiInt32 = 5;
constexpr std::uint32_t kMiUint32 = 6;
constexpr std::uint32_t kMiMatrix = 14;
constexpr std::uint32_t kMiCompressed = 15;
constexpr std::uint32_t kCell = 1, kStruct = 2, kObject = 3, kChar = 4;
constexpr std::uint32_t kSparse = 5, kDouble = 6, kUint64 = 15;
constexpr std::uint32_t kFunction = 16, kOpaque = 17;

constexpr int kMaxDepth = 16;  // cells and structures inside each other
constexpr std::uint32_t kMaxRank = 32;
constexpr std::uint32_t kMaxNameBytes = 4096;

std::uint64_t Saturating(std::uint64_t a, std::uint64_t b) {
  if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a)
    return std::numeric_limits<std::uint64_t>::max();
  return a * b;
}

std::uint64_t Product(const std::vector<std::uint64_t>& dims) {
  std::uint64_t n = 1;
  for (std::uint64_t d : dims) n = Saturating(n, d);
  return n;
}

std::uint32_t Word(const unsigned char* b, bool bigEndian) {
  return bigEndian ? (std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 |
                      std::uint32_t{b[2]} << 8 | b[3])
                   : (std::uint32_t{b[3]} << 24 | std::uint32_t{b[2]} << 16 |
                      std::uint32_t{b[1]} << 8 | b[0]);
}

// Reads exactly n bytes at byte pos of the file.
bool ReadAt(std::FILE* file, std::uint64_t pos, void* out, std::size_t n) {
  return fseeko(file, static_cast<off_t>(pos), SEEK_SET) == 0 &&
         std::fread(out, 1, n, file) == n;
}

// Bytes per value of a version 5 data type that holds numbers or text; 0 for
// the others.
std::uint64_t TypeBytes(std::uint32_t type, bool text) {
  switch (type) {
    case 1:  // int8
    case 2:  // uint8
      return 1;
    case 3:  // int16
    case 4:  // uint16
      return 2;
    case 5:  // int32
    case 6:  // uint32
      return 4;
    case 7:  // single
      return text ? 0 : 4;
    case 9:   // double
    case 12:  // int64
    case 13:  // uint64
      return text ? 0 : 8;
    case 16:  // utf8
      return text ? 1 : 0;
    case 17:  // utf16
      return text ? 2 : 0;
    case 18:  // utf32
      return text ? 4 : 0;
    default:
      return 0;
  }
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The bytes of one top-level element, in order.
class Source {
 public:
  virtual ~Source() = default;
  // Copies the next `n` bytes to `out`; false when fewer are left.
  virtual bool Read(void* out, std::size_t n) = 0;
  // Passes over the next `n` bytes; false when fewer are left.
  virtual bool Skip(std::uint64_t n) = 0;
  // Why the last Read or Skip failed.
  virtual const char* Problem() const = 0;
};

// Bytes [start, end) of the file, where end is at most the file's size.
class FileSource : public Source {
 public:
  FileSource(std::FILE* file, std::uint64_t start, std::uint64_t end)
      : file_(file), pos_(start), end_(end) {}
  bool Read(void* out, std::size_t n) override {
    if (n > end_ - pos_) return false;
    if (!ReadAt(file_, pos_, out, n)) return false;
    pos_ += n;
    return true;
  }
  bool Skip(std::uint64_t n) override {
    if (n > end_ - pos_) return false;
    pos_ += n;
    return true;
  }
  const char* Problem() const override { return kTruncated; }

 private:
  std::FILE* file_;
  std::uint64_t pos_;
  std::uint64_t end_;
};

// The inflated bytes of the zlib stream in bytes [start, end) of the file.
class InflateSource : public Source {
 public:
  InflateSource(std::FILE* file, std::uint64_t start, std::uint64_t end)
      : file_(file), left_(end - start) {
    ok_ = inflateInit(&z_) == Z_OK &&
          fseeko(file, static_cast<off_t>(start), SEEK_SET) == 0;
  }
  ~InflateSource() override { inflateEnd(&z_); }
  InflateSource(const InflateSource&) = delete;
  InflateSource& operator=(const InflateSource&) = delete;

  bool Read(void* out, std::size_t n) override {
    return Pull(static_cast<Bytef*>(out), n);
  }
  bool Skip(std::uint64_t n) override {
    while (n > 0) {
      const std::size_t step =
          static_cast<std::size_t>(std::min<std::uint64_t>(n, sizeof out_));
      if (!Pull(out_, step)) return false;
      n -= step;
    }
    return true;
  }
  const char* Problem() const override { return kBadStream; }

  // Inflates the rest: true when the stream ends inside the element with
  // its checksum right.
  bool Finish() {
    while (ok_ && !ended_) {
      z_.next_out = out_;
      z_.avail_out = sizeof out_;
      Step();
    }
    return ok_;
  }

 private:
  bool Pull(Bytef* out, std::size_t n) {
    z_.next_out = out;
    z_.avail_out = static_cast<uInt>(n);
    while (ok_ && z_.avail_out > 0) {
      if (ended_) return false;
      Step();
    }
    return ok_ && z_.avail_out == 0;
  }
  // One call of inflate, with more input first when it has none.
  void Step() {
    if (z_.avail_in == 0) {
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(left_, sizeof in_));
      if (n == 0 || std::fread(in_, 1, n, file_) != n) {
        ok_ = false;
        return;
      }
      left_ -= n;
      z_.next_in = in_;
      z_.avail_in = static_cast<uInt>(n);
    }
    const int rc = inflate(&z_, Z_NO_FLUSH);
    if (rc == Z_STREAM_END)
      ended_ = true;
    else if (rc != Z_OK)
      ok_ = false;
  }

  std::FILE* file_;
  std::uint64_t left_;
  z_stream z_{};
  bool ok_ = false;
  bool ended_ = false;
  Bytef in_[16384];
  Bytef out_[16384];
};

// A tag: data type and size; a small element keeps its data (at most four
// bytes) in the tag's second word.
struct Tag {
  std::uint32_t type = 0;
  std::uint32_t bytes = 0;
  bool small = false;
  unsigned char data[4] = {};
};

// Walks one version 5 variable (a miMATRIX element) and all it holds.
class V5Parser {
 public:
  V5Parser(Source& source, bool bigEndian, std::uint64_t fileBytes, bool zip)
      : source_(source),
        bigEndian_(bigEndian),
        fileBytes_(fileBytes),
        compressed_(zip) {}

  // The content of a miMATRIX element of `size` bytes.
  bool Matrix(std::uint64_t size, int depth) {
    if (depth > kMaxDepth)
      return Fail("cells or structures nest more than 16 deep (damaged)");
    if (size == 0) return true;  // an empty matrix, as in an empty cell
    std::uint64_t left = size;
    std::uint32_t classType = 0;
    bool complex = false;
    if (!ReadFlags(left, classType, complex)) return false;
    if (classType == kOpaque) return Opaque(left);
    std::vector<std::uint64_t> dims;
    if (!ReadDims(left, dims) || !ReadName(left, depth)) return false;
    const std::uint64_t count = Product(dims);
    if (classType == kChar || (classType >= kDouble && classType <= kUint64)) {
      if (!SkipValues(left, dims, classType == kChar, complex)) return false;
    } else if (classType == kCell || classType == kFunction) {
      if (!CheckSize(dims, 8) || !Elements(left, count, depth)) return false;
    } else if (classType == kStruct || classType == kObject) {
      if (!Fields(left, dims, classType == kObject, depth)) return false;
    } else if (classType != kSparse && classType != 0) {
      return Fail("it is of an unknown class " + std::to_string(classType) +
                  " (damaged)");
    }
    return Skip(left);
  }

  // The name of the top-level variable, once its name has been read.
  const std::string& Name() const { return name_; }
  const std::string& Problem() const { return problem_; }
  // True when the problem is a declared size the file cannot hold.
  bool SizeRefused() const { return sizeRefused_; }

 private:
  bool Fail(const std::string& problem) {
    if (problem_.empty()) problem_ = problem;
    return false;
  }
  bool Read(std::uint64_t& left, void* out, std::size_t n) {
    if (n > left) return Fail(kOverrun);
    if (!source_.Read(out, n)) return Fail(source_.Problem());
    left -= n;
    return true;
  }
  bool Skip(std::uint64_t& left, std::uint64_t n) {
    if (n > left) return Fail(kOverrun);
    if (!source_.Skip(n)) return Fail(source_.Problem());
    left -= n;
    return true;
  }
  bool Skip(std::uint64_t& left) { return Skip(left, left); }
  // After a part of `tag.bytes` bytes, the padding to a multiple of 8 (or
  // less, at the end of the variable).
  bool SkipPadding(std::uint64_t& left, const Tag& tag) {
    return Skip(left, std::min<std::uint64_t>((8 - tag.bytes % 8) % 8, left));
  }
  bool ReadTag(std::uint64_t& left, Tag& tag) {
    unsigned char b[8];
    if (!Read(left, b, 8)) return false;
    const std::uint32_t first = Word(b, bigEndian_);
    tag.small = (first >> 16) != 0;
    if (tag.small) {
      tag.type = first & 0xFFFF;
      tag.bytes = first >> 16;
      std::memcpy(tag.data, b + 4, 4);
      if (tag.bytes > 4) return Fail("a part has a malformed tag (damaged)");
    } else {
      tag.type = first;
      tag.bytes = Word(b + 4, bigEndian_);
    }
    return true;
  }
  // An opaque variable (a MATLAB object). libmatio reads its next parts as
  // dimensions and a name when they are tagged as such (in an uncompressed
  // file) and allocates what they declare, so those must lie inside it too.
  bool Opaque(std::uint64_t& left) {
    for (std::uint32_t type : {kMiInt32, kMiInt8}) {
      Tag tag;
      if (left < 8) break;
      if (!ReadTag(left, tag)) return false;
      if (tag.small || tag.type != type) break;
      if (!Skip(left, tag.bytes) || !SkipPadding(left, tag)) return false;
    }
    return Skip(left);
  }
  // A text part (an object's class name).
  bool SkipText(std::uint64_t& left) {
    Tag tag;
    if (!ReadTag(left, tag)) return false;
    if (tag.type != kMiInt8)
      return Fail("its class name is malformed (damaged)");
    return tag.small || (Skip(left, tag.bytes) && SkipPadding(left, tag));
  }
  // The array flags: the class and whether the values are complex.
  bool ReadFlags(std::uint64_t& left, std::uint32_t& classType, bool& complex) {
    Tag tag;
    unsigned char flags[8];
    if (!ReadTag(left, tag)) return false;
    if (tag.small || (tag.type != kMiUint32 && tag.type != kMiInt32) ||
        tag.bytes != 8)
      return Fail("its array flags are malformed (damaged)");
    if (!Read(left, flags, 8)) return false;
    classType = Word(flags, bigEndian_) & 0xFF;
    complex = (Word(flags, bigEndian_) & 0x800) != 0;
    return true;
  }
  // The dimensions, 2 to kMaxRank of them, and their padding.
  bool ReadDims(std::uint64_t& left, std::vector<std::uint64_t>& dims) {
    Tag tag;
    if (!ReadTag(left, tag)) return false;
    if (tag.small || tag.type != kMiInt32 || tag.bytes % 4 != 0 ||
        tag.bytes / 4 < 2 || tag.bytes / 4 > kMaxRank)
      return Fail("its dimensions are malformed (damaged)");
    dims.resize(tag.bytes / 4);
    for (std::uint64_t& d : dims) {
      unsigned char b[4];
      if (!Read(left, b, 4)) return false;
      d = Word(b, bigEndian_);
    }
    return dims.size() % 2 == 0 || Skip(left, 4);
  }
  // The array's name, kept as the variable's at depth 0.
  bool ReadName(std::uint64_t& left, int depth) {
    Tag tag;
    if (!ReadTag(left, tag)) return false;
    if (tag.type != kMiInt8 || tag.bytes > kMaxNameBytes)
      return Fail("its name is malformed (damaged)");
    std::string name(tag.bytes, '\0');
    if (tag.small)
      std::memcpy(name.data(), tag.data, tag.bytes);
    else if (!Read(left, name.data(), tag.bytes) || !SkipPadding(left, tag))
      return false;
    if (depth == 0) name_ = name.substr(0, name.find('\0'));
    return true;
  }
  // The values of a numeric or char array (real and imaginary parts), whose
  // declared sizes must fit the file and their parts.
  bool SkipValues(std::uint64_t& left,
                  const std::vector<std::uint64_t>& dims,
                  bool text,
                  bool complex) {
    const std::uint64_t count = Product(dims);
    // libmatio allocates what a text part's tag says, even for no values.
    for (int part = 0; part < (complex ? 2 : 1); ++part) {
      if (count == 0 && left == 0) break;
      Tag tag;
      if (!ReadTag(left, tag)) return false;
      const std::uint64_t bytes = TypeBytes(tag.type, text);
      if (count > 0 && bytes == 0)
        return Fail("its values have an unknown data type " +
                    std::to_string(tag.type) + " (damaged)");
      if (count > 0 && !CheckSize(dims, bytes)) return false;
      if (tag.bytes < Saturating(count, bytes)) return Fail(kShortData);
      if (!tag.small && (!Skip(left, tag.bytes) || !SkipPadding(left, tag)))
        return false;
    }
    return true;
  }
  // The field names and the fields of a structure or an object (after its
  // class name), each field of each element a miMATRIX element.
  bool Fields(std::uint64_t& left,
              const std::vector<std::uint64_t>& dims,
              bool object,
              int depth) {
    if (object && !SkipText(left)) return false;
    Tag tag;
    if (!ReadTag(left, tag)) return false;
    if (!tag.small || tag.type != kMiInt32 || tag.bytes != 4)
      return Fail("its field name length is malformed (damaged)");
    const std::uint32_t nameLength = Word(tag.data, bigEndian_);
    if (!ReadTag(left, tag)) return false;
    if (tag.type != kMiInt8)
      return Fail("its field names are malformed (damaged)");
    // Names of at most four bytes in all (one field "fs" of length 3, as
    // SciPy writes it) sit in the tag itself, a small element.
    const std::uint64_t fields = nameLength ? tag.bytes / nameLength : 0;
    if (!tag.small && (!Skip(left, tag.bytes) || !SkipPadding(left, tag)))
      return false;
    return CheckSize(dims, Saturating(8, std::max<std::uint64_t>(fields, 1))) &&
           Elements(left, Saturating(Product(dims), fields), depth);
  }
  // `count` miMATRIX elements, each a cell or a field.
  bool Elements(std::uint64_t& left, std::uint64_t count, int depth) {
    for (std::uint64_t i = 0; i < count; ++i) {
      Tag tag;
      if (!ReadTag(left, tag)) return false;
      if (tag.small || tag.type != kMiMatrix)
        return Fail("an element of it is not a matrix (damaged)");
      if (tag.bytes > left) return Fail(kOverrun);
      if (!Matrix(tag.bytes, depth + 1)) return false;
      left -= tag.bytes;
    }
    return true;
  }
  bool CheckSize(const std::vector<std::uint64_t>& dims, std::uint64_t bytes) {
    const std::string problem =
        MatSizeProblem(dims, bytes, fileBytes_, compressed_);
    if (problem.empty()) return true;
    sizeRefused_ = problem_.empty();
    return Fail(problem);
  }

  Source& source_;
  bool bigEndian_;
  std::uint64_t fileBytes_;
  bool compressed_;
  std::string name_;
  std::string problem_;
  bool sizeRefused_ = false;
};

void CheckV5(std::FILE* file, bool bigEndian, MatLayout& layout) {
  const std::uint64_t size = layout.fileBytes;
  std::uint64_t pos = 128;
  while (pos < size) {
    unsigned char b[8];
    if (size - pos < 8 || !ReadAt(file, pos, b, 8)) {
      layout.problem = kTruncated;
      return;
    }
    const std::uint32_t type = Word(b, bigEndian);
    const std::uint64_t bytes = Word(b + 4, bigEndian);
    const std::uint64_t end = pos + 8 + bytes;
    const std::uint64_t available = std::min(end, size);
    bool ok = false;
    std::string name;
    std::string problem;
    bool sizeRefused = false;
    if (type == kMiMatrix) {
      FileSource source(file, pos + 8, available);
      V5Parser parser(source, bigEndian, size, false);
      ok = parser.Matrix(bytes, 0);
      name = parser.Name();
      problem = parser.Problem();
      sizeRefused = parser.SizeRefused();
    } else if (type == kMiCompressed) {
      InflateSource source(file, pos + 8, available);
      V5Parser parser(source, bigEndian, size, true);
      unsigned char t[8];
      if (!source.Read(t, 8)) {
        problem = kBadStream;
      } else if (Word(t, bigEndian) != kMiMatrix) {
        problem = "its compressed content is not a matrix (damaged)";
      } else {
        ok = parser.Matrix(Word(t + 4, bigEndian), 0) && source.Finish();
        name = parser.Name();
        problem = parser.Problem().empty() ? kBadStream : parser.Problem();
        sizeRefused = parser.SizeRefused();
      }
    } else {
      problem = "an element at byte " + std::to_string(pos) +
                " has the unknown type " + std::to_string(type) + " (damaged)";
    }
    if (end > size) {
      // A size the file cannot hold is named too: it may be why.
      ok = false;
      problem = kTruncated + (sizeRefused ? "; " + problem : std::string());
    }
    if (!ok) {
      layout.problem =
          (name.empty() ? "the variable at byte " + std::to_string(pos) + ": "
                        : std::string()) +
          problem;
      layout.variable = name;
      return;
    }
    layout.variables.push_back(name);
    pos = end;
  }
}

// Version 4: each variable is a 20-byte header (type code MOPT, rows,
// columns, imaginary flag, name length), its name, then its values. Returns
// false when the first header is not one, so the file is not version 4.
bool CheckV4(std::FILE* file, MatLayout& layout) {
  const std::uint64_t size = layout.fileBytes;
  std::uint64_t pos = 0;
  while (pos < size) {
    unsigned char b[20];
    if (size - pos < 20 || !ReadAt(file, pos, b, 20)) {
      if (pos == 0) return false;
      layout.problem = kTruncated;
      return true;
    }
    // The type code is read in either byte order; its first digit says the
    // order of everything else.
    std::uint32_t code = Word(b, false);
    if (code > 4052) code = Word(b, true);
    const std::uint32_t m = code / 1000, o = code / 100 % 10;
    const bool bigEndian = m == 1;
    const std::uint32_t p = code / 10 % 10, t = code % 10;
    const std::int32_t rows = static_cast<std::int32_t>(Word(b + 4, bigEndian));
    const std::int32_t cols = static_cast<std::int32_t>(Word(b + 8, bigEndian));
    const std::uint32_t imaginary = Word(b + 12, bigEndian);
    const std::int32_t nameBytes =
        static_cast<std::int32_t>(Word(b + 16, bigEndian));
    if (code > 4052 || m > 1 || o != 0 || p > 5 || t > 2 || rows < 0 ||
        cols < 0 || nameBytes < 1) {
      if (pos == 0) return false;
      layout.problem = "a variable header at byte " + std::to_string(pos) +
                       " is malformed (damaged)";
      return true;
    }
    if (static_cast<std::uint64_t>(nameBytes) > size - pos - 20) {
      layout.problem = kTruncated;
      return true;
    }
    std::string name(static_cast<std::size_t>(nameBytes), '\0');
    if (std::fread(name.data(), 1, name.size(), file) != name.size()) {
      layout.problem = kTruncated;
      return true;
    }
    name = name.substr(0, name.find('\0'));
    static constexpr std::uint64_t kPrecisionBytes[] = {8, 4, 4, 2, 2, 1};
    const std::vector<std::uint64_t> dims = {static_cast<std::uint64_t>(rows),
                                             static_cast<std::uint64_t>(cols)};
    const std::uint64_t valueBytes =
        kPrecisionBytes[p] * (imaginary != 0 ? 2 : 1);
    layout.problem = MatSizeProblem(dims, valueBytes, size, false);
    const std::uint64_t end = pos + 20 + static_cast<std::uint64_t>(nameBytes) +
                              Saturating(Product(dims), valueBytes);
    if (end > size)
      layout.problem =
          kTruncated +
          (layout.problem.empty() ? std::string() : "; " + layout.problem);
    if (!layout.problem.empty()) {
      layout.variable = name;
      return true;
    }
    layout.variables.push_back(name);
    pos = end;
  }
  return true;
}

std::string DimsText(const std::vector<std::uint64_t>& dims) {
  std::string text;
  for (std::uint64_t d : dims)
    text += (text.empty() ? "" : " x ") + std::to_string(d);
  return text;
}

}  // namespace

std::string MatSizeProblem(const std::vector<std::uint64_t>& dims,
                           std::uint64_t valueBytes,
                           std::uint64_t fileBytes,
                           bool compressed) {
  const std::uint64_t count = Product(dims);
  const std::string declares = "it declares " + DimsText(dims);
  if (count > kMaxMatValues)
    return declares +
           " values, more than the 2147483647 (2^31 - 1) a matrix "
           "here can hold";
  const std::uint64_t bytes = Saturating(count, valueBytes);
  const std::uint64_t limit =
      compressed ? Saturating(fileBytes, kZlibMaxRatio) : fileBytes;
  if (bytes <= limit) return {};
  return declares + " values of " + std::to_string(valueBytes) +
         (valueBytes == 1 ? " byte (" : " bytes (") + std::to_string(bytes) +
         " bytes), more than a file of " + std::to_string(fileBytes) +
         " bytes can hold" +
         (compressed ? " even compressed (zlib expands data at most 1032-fold)"
                     : "");
}

MatLayout CheckMatLayout(const std::string& path) {
  MatLayout layout;
  File file(std::fopen(path.c_str(), "rb"));
  if (!file || fseeko(file.get(), 0, SEEK_END) != 0) return layout;
  const off_t size = ftello(file.get());
  if (size < 0 || fseeko(file.get(), 0, SEEK_SET) != 0) return layout;
  layout.fileBytes = static_cast<std::uint64_t>(size);

  unsigned char header[128];
  if (layout.fileBytes >= 128 &&
      std::fread(header, 1, 128, file.get()) == 128 &&
      ((header[126] == 'I' && header[127] == 'M') ||
       (header[126] == 'M' && header[127] == 'I'))) {
    const bool bigEndian = header[126] == 'M';
    const unsigned version = bigEndian ? (header[124] << 8 | header[125])
                                       : (header[125] << 8 | header[124]);
    if (version == 0x0100) {
      layout.format = MatLayout::Format::kV5;
      CheckV5(file.get(), bigEndian, layout);
      return layout;
    }
    if (version == 0x0200) {
      layout.format = MatLayout::Format::kV73;
      return layout;
    }
  }
  if (CheckV4(file.get(), layout)) layout.format = MatLayout::Format::kV4;
  return layout;
}

}  // namespace Korva::Data
