#include "text_files/text_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

namespace quorl_test {

std::string TempFolder() {
  std::string tmpl = std::string(::testing::TempDir()) + "quorl-test-XXXXXX";
  if (!mkdtemp(tmpl.data())) return std::string(::testing::TempDir());
  return tmpl + "/";
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Spit(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

}  // namespace quorl_test
