// A host of its own in a page: loads the stepwise classifier module, trains
// it on a small CSV file (a header, then the label and the features of one
// example per line) and prints the features it selected, in the order they
// entered the model.
//
//   minimal_host DATA.csv [MODULE.kvc]
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "korva/hostkit.h"

namespace {

// The values of every line after the header: the first column is the label.
bool ReadCsv(const std::string& path,
             std::vector<double>& X,
             std::vector<double>& labels,
             int& cols) {
  std::ifstream in(path);
  std::string line;
  if (!std::getline(in, line)) return false;
  cols = -1;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::vector<double> row;
    for (std::string field; std::getline(fields, field, ',');)
      row.push_back(std::stod(field));
    if (row.size() < 2 || (cols >= 0 && int(row.size()) - 1 != cols))
      return false;
    cols = static_cast<int>(row.size()) - 1;
    labels.push_back(row[0]);
    X.insert(X.end(), row.begin() + 1, row.end());
  }
  return cols > 0;
}

}  // namespace

int main(int argc, char** argv) {
  namespace Kit = Korva::HostKit;
  if (argc < 2) {
    std::cerr << "usage: minimal_host DATA.csv [MODULE.kvc]\n";
    return 2;
  }
  std::vector<double> X, labels;
  int cols = 0;
  if (!ReadCsv(argv[1], X, labels, cols)) {
    std::cerr << "minimal_host: cannot read " << argv[1] << "\n";
    return 3;
  }
  try {
    auto module =
        Kit::OpenModule(Kit::ChooseModulePath(argc > 2 ? argv[2] : ""));
    Korva::ClassifierHandle classifier = Kit::NewClassifier(*module);
    const Kit::MatrixView view{X.data(), static_cast<int>(labels.size()), cols};
    Kit::TrainingRun run =
        Kit::Train(*classifier, view, labels.data(), {}, nullptr);
    if (!run.Succeeded()) throw Kit::TrainingError(run, "");
    const Kit::TrainedModel model(
        std::move(classifier), std::move(run), view, labels.data());
    std::cout << "selected " << model.SelectedCount() << " of " << cols
              << " features:";
    for (int i : model.EntryOrder()) std::cout << " " << i + 1;
    std::cout << "\n";
  } catch (const Kit::Error& error) {
    std::cerr << "minimal_host: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
