// libFuzzer's entry: each fuzzer executable is this file compiled with
// QUORL_FUZZ_FUNCTION naming its target's function.
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return QUORL_FUZZ_FUNCTION(data, size);
}
