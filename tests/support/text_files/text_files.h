#pragma once
// Files for the tests of text formats: fresh folders, and whole files as
// strings, byte for byte.
#include <string>

namespace quorl_test {

// A new folder under the test temp directory, ending in '/', so tests that
// ctest runs in parallel never see each other's files.
std::string TempFolder();

// The file's bytes; empty when it cannot be read.
std::string Slurp(const std::string& path);
void Spit(const std::string& path, const std::string& text);

}  // namespace quorl_test
