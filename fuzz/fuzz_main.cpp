// The libFuzzer entry point of one fuzz target; KORVA_FUZZ_HARNESS names the
// harness function the target runs.
#include <cstdio>
#include <cstdlib>

#include "fuzz/harnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string problem = Korva::Fuzz::KORVA_FUZZ_HARNESS(data, size);
  if (!problem.empty()) {
    std::fprintf(stderr, "finding: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
