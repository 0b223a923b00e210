// Throughput of the text engine: splitting lines, classifying them and
// reading a whole configuration text into a record.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "config/cfg_record.h"
#include "config/cfg_std_reader.h"
#include "package/file/memory_file.h"
#include "util/scan_fields.h"
#include "util/values.h"

namespace marrowgate {
namespace {

struct BENCH_T : CfgRecord {
  char szName[64] = {};
  int32_t nValue = 0;
  int32_t ports[4] = {};
  static const CfgFieldInfo kRows[];
  static const CfgTypeInfo kTypeInfo;
  const CfgTypeInfo* GetTypeInfo() const override { return &kTypeInfo; }
};
const CfgFieldInfo BENCH_T::kRows[] = {
    CfgField<&BENCH_T::szName>("szName"),
    CfgField<&BENCH_T::nValue>("nValue"),
    CfgField<&BENCH_T::ports>("ports"),
    CfgEndOfTable(),
};
const CfgTypeInfo BENCH_T::kTypeInfo = {"BENCH_T", nullptr, BENCH_T::kRows};

void BM_ScanFieldsKeyValue(benchmark::State& state) {
  const std::string line = "  szUpdateDir   =   data/update/some/folder  ";
  char key[256], value[4096];
  for (auto _ : state) {
    benchmark::DoNotOptimize(ScanFields("sa", line, "=", key, value));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.size()));
}
BENCHMARK(BM_ScanFieldsKeyValue);

void BM_EvalInt(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(EvalInt("0x100 + 20*3 - 7/2"));
}
BENCHMARK(BM_EvalInt);

void BM_ReadConfig(benchmark::State& state) {
  std::string text = "#define BASE 1000\n";
  for (int i = 0; i < 1000; ++i) {
    text += "BENCH\n{\n  // entry " + std::to_string(i) + "\n";
    text += "  szName = entry" + std::to_string(i) + "\n";
    text += "  nValue = $(BASE)+" + std::to_string(i) + "\n";
    text += "  ports = 80, 443, 8080, 9000\n}\n";
  }
  const std::vector<uint8_t> bytes(text.begin(), text.end());
  for (auto _ : state) {
    BENCH_T record;
    CfgStdReader reader;
    reader.RegisterObject("BENCH", &record);
    MemoryFile file(bytes);
    if (reader.ReadStream(&file, true, 0) != 0) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(record.nValue);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ReadConfig);

}  // namespace
}  // namespace marrowgate

BENCHMARK_MAIN();
