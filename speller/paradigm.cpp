#include "speller/paradigm.h"

#include <pugixml.hpp>
#include <sstream>

#include "speller/error.h"
#include "text/number_text.h"

namespace Korva::Speller {
namespace {

Error Damaged(const std::string& what) {
  return Error(ErrorKind::kData, "speller: " + what);
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items)
    text += (text.empty() ? "" : ", ") + item;
  return text;
}

}  // namespace

std::string ParadigmXml(const Paradigm& p) {
  pugi::xml_document document;
  pugi::xml_node node = document.append_child("Speller");
  std::string symbols;
  for (const std::string& symbol : p.layout.symbols) symbols += symbol;
  node.append_attribute("Layout").set_value(p.layout.given.c_str());
  node.append_attribute("Symbols").set_value(symbols.c_str());
  node.append_attribute("SelectionFlashes").set_value(p.selectionFlashes);
  for (const std::string& event : p.selectionEvents)
    node.append_child("SelectionEvent")
        .append_attribute("Event")
        .set_value(event.c_str());
  if (p.layout.rows == 0)
    for (int c = 0; c < p.layout.Codes(); ++c) {
      std::string items;
      for (int item : p.layout.lit[c]) items += p.layout.symbols[item];
      pugi::xml_node code = node.append_child("Code");
      code.append_attribute("Value").set_value(p.layout.codes[c]);
      code.append_attribute("Items").set_value(items.c_str());
    }
  std::ostringstream text;
  document.document_element().print(text, "", pugi::format_raw);
  return text.str();
}

Paradigm ParseParadigmXml(const std::string& xml) {
  pugi::xml_document document;
  if (!document.load_string(xml.c_str()) || !document.child("Speller"))
    throw Damaged("the element is not a <Speller> element");
  const pugi::xml_node node = document.child("Speller");
  for (const char* name : {"Layout", "Symbols", "SelectionFlashes"})
    if (!node.attribute(name))
      throw Damaged("the attribute " + std::string(name) + " is missing");
  Paradigm p;
  std::int64_t flashes = 0;
  if (Text::ParseWhole(node.attribute("SelectionFlashes").value(), flashes) !=
          Text::NumberStatus::kOk ||
      flashes < 0 || flashes > 1000000)
    throw Damaged("SelectionFlashes is not a whole number from 0");
  p.selectionFlashes = static_cast<int>(flashes);
  for (const pugi::xml_node event : node.children("SelectionEvent"))
    p.selectionEvents.push_back(event.attribute("Event").value());
  const std::string given = node.attribute("Layout").value();
  const std::string symbols = node.attribute("Symbols").value();
  if (!node.child("Code")) {
    int rows = 0, cols = 0;
    if (!ParseMatrixSize(given, rows, cols))
      throw Damaged("layout " + given + " is no matrix and has no codes");
    p.layout = MatrixLayout(rows, cols, symbols);
    return p;
  }
  std::string table;
  for (const pugi::xml_node code : node.children("Code"))
    table += std::string(code.attribute("Value").value()) + "," +
             code.attribute("Items").value() + "\n";
  p.layout = ParseLayoutTable(table, "the model's layout", symbols);
  p.layout.given = given;
  return p;
}

std::string ParadigmText(const Paradigm& p) {
  std::string text = "speller: " + LayoutText(p.layout) + "; ";
  if (p.selectionFlashes > 0)
    return text + "a selection every " + std::to_string(p.selectionFlashes) +
           " flashes";
  if (!p.selectionEvents.empty())
    return text + "selections start at event " + Joined(p.selectionEvents);
  return text + "selections numbered in the data";
}

}  // namespace Korva::Speller
