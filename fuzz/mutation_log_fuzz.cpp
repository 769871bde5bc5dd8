// The log readers that build no record against the one that builds every record, on a fuzzed
// "mutations.jsonl" (store/log_scan_agreement.hpp). The inputs it keeps go into
// fuzz/corpus/mutation_log, which the store tests replay in every build.

#include <cstdio>
#include <cstdlib>

#include "store/log_scan_agreement.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string disagreement = tarnwick::test::log_disagreement({reinterpret_cast<const char*>(data), size});
  if (disagreement.empty()) return 0;
  std::fputs(disagreement.c_str(), stderr);
  std::abort();
}
