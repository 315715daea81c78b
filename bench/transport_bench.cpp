// Speed of the transport (libmerrow).
//
// BM_Codec/encode_decode: one message of 10 text and integer fields and a
// 3-entry parameter group, encoded into a frame and decoded back, one core.
// Target: at least 2,000,000 round trips per second.
//
// The loopback round trip (against a raw TCP ping-pong in the same run) and the
// one-way stream benchmarks join this file with the session layer.

#include <benchmark/benchmark.h>

#include <optional>
#include <vector>

#include "frame_codec.h"
#include "merrow/fix_defs.h"

namespace {

using merrow::IFixDefs;
namespace wire = merrow::wire;

// A typical DAS request as the core renders it.
std::unique_ptr<merrow::FieldGroup> typicalRequest()
{
    auto m = std::make_unique<merrow::FieldGroup>();
    m->setMsgType(IFixDefs::MSGTYPE_QORAREQUEST);
    m->setValue(IFixDefs::FLDTAG_TRADINGSESSIONID, "QORA");
    m->setValue(IFixDefs::FLDTAG_TRADINGSESSIONSUBID, "Real");
    m->setValue(IFixDefs::FLDTAG_TESTREQID, "5f3a9c01d2e4b7a8:1042");
    m->setValue(IFixDefs::FLDTAG_SYMBOL, "EUR/USD");
    m->setValue(IFixDefs::FLDTAG_TEXT, "create order");
    m->setIntValue(IFixDefs::FLDTAG_QORACOMMANDID, 139);
    m->setIntValue(IFixDefs::FLDTAG_MARKETDEPTH, 300);
    m->setIntValue(IFixDefs::FLDTAG_QORATIMINGINTERVAL, 1);
    m->setIntValue(IFixDefs::FLDTAG_QORACONTINUOUSFLAG, IFixDefs::QORACONTINUOUS_END);
    m->setIntValue(IFixDefs::FLDTAG_CONTINGENCYTYPE, 2);
    merrow::IFieldGroupList* params = m->createGroupList(IFixDefs::FLDTAG_QORANOPARAM);
    const char* pairs[][2] = {{"QID", "5f3a9c01d2e4b7a8:1042"}, {"QTXT", "ZLQW"}, {"Parties", "[OP,C,13,zel2,4]"}};
    for (const auto& p : pairs) {
        merrow::IFieldGroup* e = params->appendGroup();
        e->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, p[0]);
        e->setValue(IFixDefs::FLDTAG_QORAPARAMVALUE, p[1]);
    }
    return m;
}

void BM_Codec_encode_decode(benchmark::State& state)
{
    const auto message = typicalRequest();
    wire::FrameHeader header;
    header.lastReceived = 1;
    wire::FrameDecoder decoder;
    std::vector<uint8_t> out;
    out.reserve(512);
    for (auto _ : state) {
        out.clear();
        ++header.sequence;
        if (!wire::encodeFrame(header, *message, out).ok()) {
            state.SkipWithError("encode failed");
            break;
        }
        decoder.feed(out.data(), out.size());
        std::optional<wire::Frame> frame;
        if (!decoder.next(frame).ok() || !frame) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(frame->message.get());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["frame_bytes"] = static_cast<double>(out.size());
}
BENCHMARK(BM_Codec_encode_decode)->Name("BM_Codec/encode_decode");

} // namespace

BENCHMARK_MAIN();
