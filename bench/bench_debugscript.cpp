// The debug script written to the host log before every logged statement: a settlement
// carries its whole charge document as one parameter, logged in full.
#include "CoreDataModule.h"

#include <benchmark/benchmark.h>

static void BM_DebugScriptOfSettlement(benchmark::State& state) {
    std::string xml = "<Root><VAI1>";
    for (int i = 0; i < state.range(0); ++i)
        xml += "<Ie VAI01=\"" + std::to_string(1000 + i) + "\" VAJ38=\"12.5\" BCK01=\"3\" Name=\"O'Neil\"/>";
    xml += "</VAI1></Root>";
    TADOQuery query;
    query.SetParamCheck(true);
    query.SQL().SetText("EXEC QVRate_VAK1_Update :XML, :VAK01 out, :VAK04 out");
    query.Parameters().ParamByName("XML").SetDataType(ftString);
    query.Parameters().ParamByName("XML").SetValue(Variant(xml));
    query.Parameters().ParamByName("VAK01").SetDataType(ftInteger);
    query.Parameters().ParamByName("VAK04").SetDataType(ftString);
    for (auto _ : state)
        benchmark::DoNotOptimize(BuildDebugScript(query));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(xml.size()));
}
BENCHMARK(BM_DebugScriptOfSettlement)->Arg(10)->Arg(1000);

BENCHMARK_MAIN();
