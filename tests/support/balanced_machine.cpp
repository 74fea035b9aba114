// Every test on a fresh machine, left balanced.
#include "balanced.h"

int main(int argc, char **argv) {
  auto nothing = [] { return std::vector<std::string>(); };
  return testsupport::RunBalanced(argc, argv, new testsupport::Balanced("the machine", [] {}, nothing));
}
