// bench-libs: qor_gateway qor_foundation qor_xfcgi qor_xml qor_arc qor_fcgi
// Building a screen-input MCSO as the gateway sends it, and parsing a
// program message (the reply screen) as it reads it.
#include <benchmark/benchmark.h>

#include <string>

#include "ArcMcsData.h"
#include "ArcSnapShot.h"
#include "DtpPacket.h"
#include "McsInterface.h"

namespace {

using P = CZelDtpPacket;

std::string Be16(unsigned v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }
std::string Be32(unsigned v) { return Be16(v >> 16) + Be16(v & 0xFFFF); }
std::string Param(const std::string &v) { return Be16(static_cast<unsigned>(v.size())) + Be16(3) + v; }

// A 24 x 80 screen.
constexpr int kScreen = 1920;

CArcMcsData Screen() {
    CArcMcsData data;
    data.SetName("MENU");
    data.SetSize(kScreen);
    std::string text(kScreen, 'x');
    data.SetData(CBuffer(text.data(), kScreen), 0, kScreen);
    return data;
}

// The body of a reply screen: PIB, MCS data, FCC pairs, cursor, error text.
std::string ReplyBody() {
    CArcSnapShot pib;
    CBuffer pibBytes;
    pib.StoreInBuffer(pibBytes);
    CBuffer screen;
    Screen().StoreInBuffer(screen);
    const std::string params[5] = {std::string(pibBytes.GetBuffer(), pibBytes.GetLength()),
                                   std::string(screen.GetBuffer(), screen.GetLength()),
                                   std::string(40, '\x33'), "   *      ", "FIELD IN ERROR"};
    std::string ps;
    unsigned sum = 0;
    for (const auto &p : params) {
        ps += Param(p);
        sum += static_cast<unsigned>(p.size()) + 4;
    }
    return std::string{30, 0, 0, 0} + Be32(0x11) + std::string(12, ' ') + Be32(0) + Be32(1) + Be32(2) +
           Be32(3) + Be32(4) + Be16(129) + Be16(1) + Be16(5) + Be16(sum) + ps;
}

void BM_BuildScreenInput(benchmark::State &state) {
    const CArcSnapShot pib;
    const CArcMcsData screen = Screen();
    for (auto _ : state) {
        TPktInterfacePtr<P::TMcso> mcso(P::TMcso::CreatePacketInterface("WEB1", 0x11, 0x10001));
        TPktInterfacePtr<TMcsInterface> mcs(mcso->CreateMcsInterface('I'));
        static_cast<TQorMsgi &>(*mcs).Init(pib, screen, 1, 2, 3, 4);
        benchmark::DoNotOptimize(mcso->GetBuffer()->GetBuffer());
    }
}
BENCHMARK(BM_BuildScreenInput);

void BM_ParseReplyScreen(benchmark::State &state) {
    const std::string body = ReplyBody();
    // The protocol's receive packet, held through one reference of its owner.
    CZelDtpPacket &reply = *new CZelDtpPacket;
    reply.AddRef();
    const std::string frame = Be32(static_cast<unsigned>(body.size())) + body;
    reply.AddChars(frame.data(), static_cast<int>(frame.size()));
    reply.SetOffset(4);
    for (auto _ : state) {
        TPktInterfacePtr<TBasePktInterface> view(reply.QueryPacketInterface());
        auto *mcso = static_cast<P::TMcso *>(view.get());
        TPktInterfacePtr<TMcsInterface> mcs(mcso->QueryMcsInterface());
        auto *msgo = static_cast<TQorMsgo *>(mcs.get());
        CArcSnapShot pib;
        CArcMcsData data;
        CBuffer fcc;
        std::string error;
        int cursor = 0;
        msgo->GetSnapShot(pib);
        msgo->GetMcsData(data);
        msgo->GetFccMods(fcc);
        msgo->GetCursorModIndex(cursor);
        msgo->GetErrorText(error);
        benchmark::DoNotOptimize(cursor);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(body.size()));
    reply.Release();
}
BENCHMARK(BM_ParseReplyScreen);

}  // namespace

BENCHMARK_MAIN();
