// The simulator's text output: headings and indented lines on stdout.
#pragma once

#include <string>

namespace appletsim {

void Heading(const std::string &text);
void Line(const std::string &text, int indent = 0);
// Every line of a block of text, indented.
void Block(const std::string &text, int indent = 0);

}  // namespace appletsim
