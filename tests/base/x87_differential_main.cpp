// The differential check of Extended against the x87 unit at full length: random operations
// (50 million unless told otherwise), the codec's formulas for every LED count, the tests' texts.
//
// Usage: extended-differential [operations] [seed]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "tests/base/x87_differential.h"

int main(int argc, char** argv) {
#ifdef GLOWSTEP_HAS_X87
  using namespace glowstep::x87;
  const std::uint64_t operations = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 50000000;
  const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
  const auto start = std::chrono::steady_clock::now();
  TReport report;
  CompareRandomOperations(operations, seed, report);
  CompareCodecFormulas(1, report);
  CompareTexts(report);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::printf("operations compared: %llu\nmismatches: %llu\ntime: %.1f s\n",
              static_cast<unsigned long long>(report.Operations),
              static_cast<unsigned long long>(report.Mismatches), elapsed.count());
  for (const std::string& example : report.Examples) std::printf("  %s\n", example.c_str());
  return report.Mismatches == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
#else
  (void)argc;
  (void)argv;
  std::puts("this processor has no x87 unit to compare with");
  return EXIT_SUCCESS;
#endif
}
