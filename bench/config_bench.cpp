// Cost of the configuration text, the report, and a whole save to a local file
// (the save flushes to disk, which dominates on a memory card).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "config/report.h"
#include "config/writer.h"
#include "platform/shell.h"
#include "records/shared_config.h"
#include "writable_records.h"

namespace {

SharedConfig BusyRecord() {
  SharedConfig c{};
  std::strcpy(c.rc_input_mode, "pwm");
  std::strcpy(c.rc2_input_mode, "sbus");
  std::memset(c.rc_input_map, ',', 31);
  std::strcpy(c.ap_ssid, "Box \"AP\"");
  std::memset(c.wifi_psk, '\\', 200);
  c.shield_timeout = 2500;
  return c;
}

void BM_FormatConfigurationFile(benchmark::State& state) {
  SharedConfig record = BusyRecord();
  std::string text;
  for (auto _ : state) {
    FormatConfigurationFile(record, &text);
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(BM_FormatConfigurationFile);

void BM_FormatConfigReport(benchmark::State& state) {
  SharedConfig record = BusyRecord();
  std::vector<InterfaceAddress> ifaces = {{"eth0", "192.168.1.5"}, {"usb0", "192.168.42.2"}};
  char out[4000];
  for (auto _ : state) benchmark::DoNotOptimize(FormatConfigReport(record, ifaces, out, sizeof out));
}
BENCHMARK(BM_FormatConfigReport);

// Texts that escape to six bytes each: the report has to be cut.
void BM_FormatConfigReportCut(benchmark::State& state) {
  SharedConfig record{};
  std::memset(record.rc_input_map, 1, 511);
  std::memset(record.ap_psk, 2, 255);
  std::memset(record.wifi_psk, 3, 255);
  char out[4000];
  for (auto _ : state) benchmark::DoNotOptimize(FormatConfigReport(record, {}, out, sizeof out));
}
BENCHMARK(BM_FormatConfigReportCut);

void BM_SaveConfiguration(benchmark::State& state) {
  ShellRecordOnly(true);
  char pattern[] = "/tmp/vb-bench-save-XXXXXX";
  std::string dir = mkdtemp(pattern);
  std::string path = dir + "/vantagebridge-cable.conf";
  SetBootConfigPathForTest(path.c_str());
  *WritableSharedConfig() = BusyRecord();
  for (auto _ : state) {
    SaveConfiguration();
    ShellTakeLog();
  }
  SetBootConfigPathForTest(nullptr);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SaveConfiguration)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
