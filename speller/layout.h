#ifndef KORVA_SPELLER_LAYOUT_H_
#define KORVA_SPELLER_LAYOUT_H_

// What a speller shows and what each of its stimulus codes lights. A flash
// carries a code; the layout says which items (symbols) that code lights:
// in a ROWS x COLS matrix, codes 1 .. COLS light the columns left to right
// and COLS+1 .. COLS+ROWS the rows top to bottom; a layout table gives any
// other paradigm (checkerboard groups, single items) code by code.

#include <string>
#include <vector>

namespace Korva::Speller {

// The symbols of a 6 x 6 matrix, row by row; a smaller matrix takes its
// first ROWS x COLS.
constexpr const char* kDefaultSymbols = "ABCDEFGHIJKLMNOPQRSTUVWXYZ123456789_";

// The most codes and items a layout may have.
constexpr int kMaxCodes = 1000;
constexpr int kMaxItems = 10000;

struct Layout {
  std::string given;                   // as given: "6x6", or a table's path
  int rows = 0, cols = 0;             // a matrix's; 0 for a table
  std::vector<std::string> symbols;   // item i's symbol, all distinct
  std::vector<int> codes;             // ascending, each from 1
  std::vector<std::vector<int>> lit;  // lit[c]: the items codes[c] lights

  int Items() const { return static_cast<int>(symbols.size()); }
  int Codes() const { return static_cast<int>(codes.size()); }
  // The index of `code` in `codes`; -1 when the layout has no such code.
  int CodeIndex(int code) const;
  // True when the code at `codeIndex` lights `item`.
  bool Lights(int codeIndex, int item) const;
  // The item whose symbol is `symbol`; -1 when there is none.
  int Item(const std::string& symbol) const;
};

// The characters of `text` (UTF-8), one symbol each. Error(kSettings) for
// text that is not well-formed UTF-8.
std::vector<std::string> SplitSymbols(const std::string& text,
                                      const std::string& what);

// A ROWS x COLS matrix with `symbols` row by row ("": kDefaultSymbols, when
// it has enough). Error(kSettings) when the symbols are not ROWS x COLS
// distinct characters.
Layout MatrixLayout(int rows, int cols, const std::string& symbols);

// "ROWSxCOLS" into rows and cols (clamped to -1 .. 1000); false when `given`
// is not of that form.
bool ParseMatrixSize(const std::string& given, int& rows, int& cols);

// The layout `given` names: "ROWSxCOLS" (each 1 .. 100, one of them at least
// 2), or the path of a layout table (ReadLayoutTable). Error(kSettings) for a
// malformed matrix or symbols; Error(kData) for a table that cannot be read
// or used.
Layout MakeLayout(const std::string& given, const std::string& symbols);

// A layout table: one line per code, the code (a whole number from 1), a
// comma, tab or blanks, and the symbols it lights written together
// ("1,ABCDEF"). A first line "code,items" is a header; blank lines and lines
// that start with '#' are skipped. The items are `symbols` in that order
// when given (each symbol of the table must be one of them), else the
// symbols in their order of first appearance. `name` names the table in
// messages. Error(kData) for a malformed line, a code given twice, a symbol
// outside `symbols`, an item no code lights, two items lit by the same
// codes (no flash would tell them apart) or too many codes or items.
Layout ParseLayoutTable(const std::string& text,
                        const std::string& name,
                        const std::string& symbols);

// The table text of a layout, as ParseLayoutTable reads it (without a
// header), so that a model keeps any layout whole.
std::string LayoutTable(const Layout& layout);

// "6x6 matrix (codes 1-6 columns, 7-12 rows)" or "layout table l.txt (24
// codes)", and its item count, for people.
std::string LayoutText(const Layout& layout);

// The item of each symbol of `text`. Error(kSettings), naming `what`
// ("--target-text"), the symbol and its place, for a symbol the layout lacks.
std::vector<int> TextItems(const Layout& layout,
                           const std::string& text,
                           const std::string& what);

}  // namespace Korva::Speller

#endif  // KORVA_SPELLER_LAYOUT_H_
