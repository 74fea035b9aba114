#include "output.h"

#include <cstdio>

namespace appletsim {

void Heading(const std::string &text) { printf("\n== %s\n", text.c_str()); }

void Line(const std::string &text, int indent) {
  printf("   %s%s\n", std::string(size_t(indent) * 2, ' ').c_str(), text.c_str());
}

void Block(const std::string &text, int indent) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    Line(text.substr(start, end - start), indent);
    start = end + 1;
  }
}

}  // namespace appletsim
