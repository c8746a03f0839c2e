// Reading and checking a deck of 10 000 designs (target: under 0.5 s).
#include <benchmark/benchmark.h>

#include <string>

#include "deck/deck.h"

namespace {

std::string big_deck(int designs) {
  std::string s = "0 0 0.0 0.0\n'ten thousand designs'\n";
  for (int i = 0; i < designs; ++i) {
    switch (i % 3) {
      case 0:  // information fractions, both evaluations, power family for EP2
        s += "0 1 1 1 1 0\n1.4286 1.4286 0.5 1.4286 1.4286 0.5\n2.0 3.0 0.3 0.4 0.5 1\n"
             "0.025 0 0.8 1 3 3 1 3\n0.5 0.75 1.0\n3.0\n3.0\n";
        break;
      case 1:  // EP2-timed, Hwang-Shih-DeCani for EP2, repeat counts and nulls
        s += "100 2 2 2 1 0 1.5 1.3333 0.3 1.5 1.3333 0.3 3.0 2.0 0.4 0.5 0.5 1 0.025 0 0.9 3 2 "
             "3 2 4 0.6 1.0\n-4.0\n";
        break;
      default:  // calendar times, code 7 replaced by 5 with its cumulative values
        s += "0 3 3 3 1 600\n1.4286 1.25 0.6 1.4286 1.25 0.6\n2.0 3.0 0.3 0.5 0.5 1\n"
             "0.025 0 0.8 4 3 3 7 1\n2.0 3.5 5.0\n5\n0.001 0.01 0.025\n";
        break;
    }
  }
  return s;
}

void BM_ReadAndCheckDeck(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::string text = big_deck(n);
  for (auto _ : state) {
    kestrel::deck::Deck deck = kestrel::deck::read_deck(text);
    auto problems = kestrel::deck::check_deck(deck);
    if (deck.designs.size() != static_cast<size_t>(n) || !problems.empty())
      state.SkipWithError("the deck did not read cleanly");
    benchmark::DoNotOptimize(problems);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ReadAndCheckDeck)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
