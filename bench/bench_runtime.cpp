// Text paths every device request and clinic log line goes through.
#include "QvText.h"

#include <benchmark/benchmark.h>

static void BM_FormatDeviceRequest(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(Format("TransType=%d\r\nAmount=%.2f\r\nBillNo=%s\r\nMemo=%s",
                                        {1, 123.45, "No1001202403050809", "门诊医师站发送医嘱诊间支付"}));
}
BENCHMARK(BM_FormatDeviceRequest);

static void BM_Utf8ToAnsi(benchmark::State& state) {
    std::string text;
    for (int i = 0; i < state.range(0); ++i)
        text += "门诊医师站发送医嘱诊间支付 ACF01=1 ";
    for (auto _ : state)
        benchmark::DoNotOptimize(Utf8ToAnsi(text));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_Utf8ToAnsi)->Arg(1)->Arg(1000);

static void BM_CurrencyRoundTrip(benchmark::State& state) {
    double v = 0.1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(CurrToStr(DoubleToCurr(v)));
        v += 0.01;
    }
}
BENCHMARK(BM_CurrencyRoundTrip);

static void BM_StringListValues(benchmark::State& state) {
    std::string text;
    for (int i = 0; i < 50; ++i)
        text += "Key" + std::to_string(i) + "=value\r\n";
    for (auto _ : state) {
        TStringList list(text);
        benchmark::DoNotOptimize(list.Values("key49"));
    }
}
BENCHMARK(BM_StringListValues);

BENCHMARK_MAIN();
