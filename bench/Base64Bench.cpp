// Base64 speed on attachment-sized buffers (bytes per second of raw data).
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>

#include "storage/Base64.h"

namespace {

std::string RandomBytes(std::size_t ASize) {
  std::string s(ASize, '\0');
  std::mt19937_64 rng(42);
  for (std::size_t i = 0; i + 8 <= ASize; i += 8) {
    const auto v = rng();
    std::memcpy(s.data() + i, &v, 8);
  }
  return s;
}

void BM_Base64Encode(benchmark::State& AState) {
  const std::string data = RandomBytes(static_cast<std::size_t>(AState.range(0)));
  std::string out;
  for (auto _ : AState) {
    out.clear();
    tarvok::Base64EncodeAppend(out, data);
    benchmark::DoNotOptimize(out.data());
  }
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations()) * AState.range(0));
}
BENCHMARK(BM_Base64Encode)->Arg(64 << 10)->Arg(20 << 20);

void BM_Base64Decode(benchmark::State& AState) {
  const std::string text = tarvok::Base64Encode(RandomBytes(static_cast<std::size_t>(AState.range(0))));
  std::string out;
  for (auto _ : AState) {
    benchmark::DoNotOptimize(tarvok::Base64Decode(text, out));
    benchmark::DoNotOptimize(out.data());
  }
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations()) * AState.range(0));
}
BENCHMARK(BM_Base64Decode)->Arg(64 << 10)->Arg(20 << 20);

}  // namespace
