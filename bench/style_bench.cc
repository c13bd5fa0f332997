// Cost of the Style engine on the hot paths of a Cnet poll: building the individual-read request
// and parsing its reply, for 1 and 16 blocks, with compiled Styles reused as the library does.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/quiet_platform.h"
#include "style/int_to_str.h"
#include "style/style.h"
#include "style/style_parser.h"

namespace {

qb::QuietPlatform platform;

std::u16string Round(int r) { return qb::IntToStr(r, 10, -1); }

void CompileRequest(qb::Style& style) {
  style.MakeStyle(
      u"0x05,SlvAddr[2h],'r','S','S',BlocCnt~16[2h],SpecLen[2h],Spec[SpecLen~16s],0x04,Bcc[2h]",
      true);
  style.SetChecksumRange(u"Bcc", 0, 9, u"plus");
  style.SetRepeatRange(u"BlocCnt", 6, 2);
}

void CompileReply(qb::Style& style) {
  style.MakeStyle(
      u"0x06,SlvAddr[2h],'r','S','S',BlocCnt[2h],DataCnt[2h],Data[DataCnt*2~4h],0x03,Bcc[2h]",
      true);
  style.SetChecksumRange(u"Bcc", 0, 9, u"plus");
  style.SetRepeatRange(u"BlocCnt", 6, 2);
}

void BuildReadRequest(benchmark::State& state) {
  const int blocks = static_cast<int>(state.range(0));
  qb::Style style(platform);
  CompileRequest(style);
  style.SetInt(u"SlvAddr", 1);
  style.SetInt(u"BlocCnt", blocks);
  for (int r = 0; r < blocks; ++r) {
    style.SetInt(u"SpecLen:" + Round(r), 7);
    style.SetStr(u"Spec:" + Round(r), u"%MW" + qb::IntToStr(100 + r, 10, 4));
  }
  std::vector<uint8_t> frame;
  for (auto _ : state) {
    style.BuildFrame(frame);
    benchmark::DoNotOptimize(frame.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["bytes"] = static_cast<double>(frame.size());
}

void ParseReadReply(benchmark::State& state) {
  const int blocks = static_cast<int>(state.range(0));
  // The reply is made by the reply Style itself; parsing uses a second one, as a receiver would.
  qb::Style builder(platform);
  CompileReply(builder);
  builder.SetInt(u"SlvAddr", 1);
  builder.SetInt(u"BlocCnt", blocks);
  for (int r = 0; r < blocks; ++r) {
    builder.SetInt(u"DataCnt:" + Round(r), 2);
    builder.SetInt(u"Data:" + Round(r), 0x1000 + r);
  }
  std::vector<uint8_t> reply;
  builder.BuildFrame(reply);

  qb::Style style(platform);
  CompileReply(style);
  qb::StyleOwner owner;
  for (auto _ : state) {
    qb::FrameValues values;
    size_t consumed = 0;
    const int result = qb::ParseFrameAt(style, reply, values, owner, consumed);
    if (result != qb::kParseMatched || consumed != reply.size()) {
      state.SkipWithError("the reply did not parse");
      break;
    }
    benchmark::DoNotOptimize(values);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["bytes"] = static_cast<double>(reply.size());
}

}  // namespace

BENCHMARK(BuildReadRequest)->Arg(1)->Arg(16);
BENCHMARK(ParseReadReply)->Arg(1)->Arg(16);

BENCHMARK_MAIN();
