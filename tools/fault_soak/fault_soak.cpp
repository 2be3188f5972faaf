// Runs the fault sweep's scenario (testing/fault_sweep.h) for as long as asked, each run with a
// plan drawn from the seed: one call failing, one call and every later one failing, or every call
// failing with a probability of 1, 5 or 20 %. Each run is checked as in the sweep; a run with
// problems is printed with its plan, which --plan runs again on its own.
//
// Usage: glowstep-fault-soak [seed] [runs] [--backend]
//        glowstep-fault-soak --plan "once main OpenFile #3" [--backend]
//        glowstep-fault-soak --pairs [--backend]    every pair of calls from distinct steps
//        glowstep-fault-soak --list [--backend]     the scenario's calls and their steps, in order
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "testing/fault_sweep.h"

using namespace glowstep;

namespace {

void Print(const TRunResult& result) { std::fputs(result.Text().c_str(), stdout); }

// "once KEY", "from KEY", "random SEED P", "pair KEY and KEY", "short KEY" or "garbage KEY".
std::unique_ptr<TFaultPlan> ParsePlan(std::string_view text) {
  const auto space = text.find(' ');
  if (space == std::string_view::npos) return nullptr;
  const std::string_view mode = text.substr(0, space);
  const std::string_view rest = text.substr(space + 1);
  if (mode == "pair") {
    const auto joint = rest.find(" and ");
    if (joint == std::string_view::npos) return nullptr;
    const auto first = TCallKey::Parse(rest.substr(0, joint));
    const auto second = TCallKey::Parse(rest.substr(joint + 5));
    if (!first || !second) return nullptr;
    return std::make_unique<TFaultPlan>(TFaultPlan::TMode::Pair, *first, *second, TSpoil::None);
  }
  if (mode == "short" || mode == "garbage") {
    const auto key = TCallKey::Parse(rest);
    if (!key) return nullptr;
    return std::make_unique<TFaultPlan>(TFaultPlan::TMode::Spoil, *key, TCallKey{},
                                        mode == "short" ? TSpoil::Short : TSpoil::Garbage);
  }
  if (mode == "random") {
    unsigned long long seed = 0;
    double probability = 0;
    if (std::sscanf(std::string(rest).c_str(), "%llu p=%lf", &seed, &probability) != 2)
      return nullptr;
    return std::make_unique<TFaultPlan>(TFaultPlan::TMode::Random, TCallKey{}, seed, probability);
  }
  const auto key = TCallKey::Parse(rest);
  if (!key || (mode != "once" && mode != "from")) return nullptr;
  return std::make_unique<TFaultPlan>(
      mode == "once" ? TFaultPlan::TMode::Once : TFaultPlan::TMode::From, *key, 0, 0.0);
}

int Usage() {
  std::fprintf(stderr,
               "usage: glowstep-fault-soak [seed] [runs] [--backend]\n"
               "       glowstep-fault-soak --plan \"once main OpenFile #3\" [--backend]\n"
               "       glowstep-fault-soak --pairs [--backend]\n"
               "       glowstep-fault-soak --list [--backend]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> numbers;
  TFaultLayer layer = TFaultLayer::System;
  bool list = false;
  bool pairs = false;
  std::string_view planText;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--backend") {
      layer = TFaultLayer::Backend;
    } else if (arg == "--list") {
      list = true;
    } else if (arg == "--pairs") {
      pairs = true;
    } else if (arg == "--plan" && i + 1 < argc) {
      planText = argv[++i];
    } else if (!arg.empty() && arg[0] != '-') {
      numbers.push_back(arg);
    } else {
      return Usage();
    }
  }

  if (!planText.empty()) {
    const auto plan = ParsePlan(planText);
    if (!plan) return Usage();
    const TRunResult result = RunScenario(MakeLinkApp, layer, *plan);
    Print(result);
    return result.Problems.empty() ? 0 : 1;
  }

  if (pairs) {
    TSweepOptions options;
    options.Once = false;
    options.From = false;
    options.Pairs = static_cast<std::size_t>(-1);
    options.OnRun = [](const TRunResult& result) {
      if (!result.Problems.empty()) Print(result);
    };
    const TSweepReport report = Sweep(MakeLinkApp, layer, options);
    std::printf("%s\n", report.Summary(layer).c_str());
    return report.Failed.empty() ? 0 : 1;
  }

  TFaultPlan counting = TFaultPlan::Counting();
  const TRunResult first = RunScenario(MakeLinkApp, layer, counting);
  if (list) {
    for (std::size_t i = 0; i < first.Calls.size(); ++i)
      std::printf("%-32s %s\n", first.Calls[i].Text().c_str(), first.CallSteps.at(i).c_str());
    return 0;
  }
  if (!first.Problems.empty() || first.Calls.empty()) {
    Print(first);
    return 1;
  }

  const unsigned long long seed =
      numbers.size() > 0 ? std::strtoull(std::string(numbers[0]).c_str(), nullptr, 10) : 1;
  const long runs =
      numbers.size() > 1 ? std::strtol(std::string(numbers[1]).c_str(), nullptr, 10) : 1000;
  std::printf("%s, seed %llu: %ld runs over %zu calls\n", LayerName(layer), seed, runs,
              first.Calls.size());
  std::mt19937_64 random(seed);
  constexpr double kProbabilities[] = {0.01, 0.05, 0.2};
  long failed = 0;
  long unreached = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long run = 0; run < runs; ++run) {
    const TCallKey& key = first.Calls[random() % first.Calls.size()];
    constexpr TFaultPlan::TMode kModes[] = {TFaultPlan::TMode::Once, TFaultPlan::TMode::From,
                                            TFaultPlan::TMode::Random};
    const TFaultPlan::TMode mode = kModes[random() % 3];
    const std::uint64_t planSeed = random();
    const auto plan =
        std::make_unique<TFaultPlan>(mode, key, planSeed, kProbabilities[random() % 3]);
    const TRunResult result = RunScenario(MakeLinkApp, layer, *plan);
    if (!result.Reached) ++unreached;
    if (result.Problems.empty()) continue;
    ++failed;
    Print(result);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "%ld runs in %.1f s (%.1f runs/s): %ld with problems, %ld whose planned call did "
      "not come\n",
      runs, seconds, static_cast<double>(runs) / seconds, failed, unreached);
  return failed == 0 ? 0 : 1;
}
