// korva: loads the classifier module and shows what it provides.
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "host/module_loader.h"

namespace {

// The module beside the executable, unless KORVA_MODULE names another.
std::string DefaultModulePath() {
  if (const char* path = std::getenv("KORVA_MODULE")) return path;
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  std::string dir = ".";
  if (length > 0) {
    self[length] = '\0';
    dir = self;
    dir = dir.substr(0, dir.find_last_of('/'));
  }
  return dir + "/ZEZODOvo64.kvc";
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : DefaultModulePath();
  try {
    auto module = Korva::Module::Open(path);
    Korva::ClassifierHandle classifier = module->CreateClassifier();
    std::ostringstream info;
    classifier->GetInfo(info);
    classifier->GetShortInfo(info);
    std::cout << "module: " << module->Path() << '\n' << info.str() << '\n';
  } catch (const Korva::ModuleError& error) {
    std::cerr << "korva: " << error.what() << '\n';
    return 2;
  }
  return 0;
}
