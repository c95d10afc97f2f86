// korva: the command-line host of the DOZOD classifier module.
#include "cli/korva.h"
#include "cli/output_streams.h"

int main(int argc, char** argv) {
  Korva::Cli::ReserveStandardDescriptors();
  return Korva::Cli::RunKorva(argc, argv);
}
