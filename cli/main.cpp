// korva: the command-line host of the DOZOD classifier module.
#include "cli/korva.h"

int main(int argc, char** argv) { return Korva::Cli::RunKorva(argc, argv); }
