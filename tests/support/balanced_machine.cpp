// Every test on a fresh machine, left balanced.
#include "balanced.h"

int main(int argc, char **argv) { return testsupport::RunBalanced(argc, argv, "the machine"); }
