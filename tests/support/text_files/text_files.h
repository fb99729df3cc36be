#pragma once
// Whole files as strings, byte for byte, for the tests of text formats.
#include <string>

namespace quorl_test {

// The file's bytes; empty when it cannot be read.
std::string Slurp(const std::string& path);
void Spit(const std::string& path, const std::string& text);

}  // namespace quorl_test
