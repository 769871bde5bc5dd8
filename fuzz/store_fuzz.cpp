// The whole store over fuzzed files: load, query, one batch, reopen (store/store_fuzz_case.hpp).
// The inputs it keeps go into fuzz/corpus/store, which the store tests replay in every build.

#include "store/store_fuzz_case.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarnwick::test::run_store_fuzz_case({data, size});
  return 0;
}
