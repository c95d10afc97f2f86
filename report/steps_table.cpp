// The order in which the features entered (and left) the model, with the
// p-value of each change.
#include <string>

#include "report/html_escape.h"
#include "report/html_report.h"
#include "report/svg.h"

namespace Korva::Report {

std::string StepsTable(const std::vector<StepRow>& steps) {
  std::string html =
      "<table class=\"facts\">\n<tr><th>step</th><th>feature</th><th>change"
      "</th><th>p-value</th></tr>\n";
  for (const StepRow& row : steps)
    html += "<tr><td>" + std::to_string(row.step) + "</td><td>" +
            EscapeHtml(row.feature) + "</td><td>" +
            (row.added ? "entered" : "removed") + "</td><td>" + Label(row.p) +
            "</td></tr>\n";
  return html + "</table>\n";
}

}  // namespace Korva::Report
