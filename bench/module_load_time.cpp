// module_load_time MODULE...: for each module, the wall time of loading it
// (dlopen with every symbol bound, its libraries included), creating one
// classifier and releasing it, in microseconds. Run it once per measurement:
// only the first load in a process pays for the libraries.
#include <chrono>
#include <cstdio>

#include "korva/module_loader.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const auto start = std::chrono::steady_clock::now();
    {
      auto module = Korva::Module::Open(argv[i]);
      module->CreateClassifier();
    }
    const double us = std::chrono::duration<double, std::micro>(
                          std::chrono::steady_clock::now() - start)
                          .count();
    std::printf("%s\t%.0f\n", argv[i], us);
  }
  return 0;
}
