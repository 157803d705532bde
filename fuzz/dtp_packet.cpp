// fuzz-libs: qor_gateway qor_foundation qor_xfcgi qor_xml qor_arc qor_fcgi
// Received DTP packets: the body goes through QueryPacketInterface and every
// getter of the view it makes; an MCSO also through QueryMcsInterface and
// every MCS getter; the MCS header and data and the PIB load from the bytes
// directly. Nothing may read outside the body or leak.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ArcMcsData.h"
#include "ArcSnapShot.h"
#include "DtpPacket.h"
#include "McsInterface.h"
#include "ZelName.h"

namespace {

using P = CZelDtpPacket;

void ReadMcs(TMcsInterface *mcs) {
    unsigned ids[4];
    mcs->GetIds(ids);
    if (auto *msgo = dynamic_cast<TQorMsgo *>(mcs)) {
        CArcSnapShot snapshot;
        CArcMcsData data;
        CBuffer raw, fcc;
        std::string text;
        int cursor = 0;
        msgo->GetSnapShot(snapshot);
        msgo->GetSnapShot(raw);
        msgo->GetMcsData(data);
        msgo->GetMcsData(raw);
        msgo->GetFccMods(fcc);
        msgo->GetCursorModIndex(cursor);
        msgo->GetErrorText(text);
        CBuffer out;
        data.GetData(out, 0, 0x7FFFFFFF, 0);
        data.StoreInBuffer(out);
        snapshot.StoreInBuffer(out);
    } else if (auto *fmt = dynamic_cast<TQorScrFmt *>(mcs)) {
        std::string text;
        CTime date(12);
        int offset = 0;
        unsigned short length = 0;
        fmt->GetName(text);
        fmt->GetFormatType();
        fmt->GetFormatGroup(text);
        fmt->GetFormatName(text);
        fmt->GetFormatDescription(text);
        fmt->GetFormatDate(date);
        if (fmt->GetFormatOffset(offset, length) && !fmt->GetBuffer()->Has(offset, length)) __builtin_trap();
    }
}

void ReadView(TBasePktInterface *view) {
    CZelName name(8), form(24);
    CBuffer out;
    std::string text;
    if (auto *hello = dynamic_cast<P::THello *>(view)) hello->GetLocap(name);
    if (auto *reject = dynamic_cast<P::TReject *>(view)) reject->GetReason();
    if (auto *accept = dynamic_cast<P::TAccept *>(view)) accept->GetSenderId();
    if (auto *pren = dynamic_cast<P::TPren *>(view)) {
        pren->GetReason();
        pren->GetCda(out);
    }
    if (auto *read = dynamic_cast<P::TDezUrRead *>(view)) {
        read->GetGroup(name);
        read->GetForm(form);
    }
    if (auto *send = dynamic_cast<P::TDezUrSend *>(view)) {
        send->GetHeaderText(text);
        send->GetScreenText(text);
    }
    if (auto *mcso = dynamic_cast<P::TMcso *>(view)) {
        TPktInterfacePtr<TMcsInterface> mcs(mcso->QueryMcsInterface());
        ReadMcs(mcs.get());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1u << 20)) return 0;
    const int n = static_cast<int>(size);

    // As the transport leaves it: the length word, then the body.
    auto *packet = new CZelDtpPacket;
    packet->AddRef();
    const uint8_t word[4] = {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                             static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
    packet->AddChars(reinterpret_cast<const char *>(word), 4);
    if (n > 0) packet->AddChars(reinterpret_cast<const char *>(data), n);
    packet->SetOffset(4);
    try {
        TPktInterfacePtr<TBasePktInterface> view(packet->QueryPacketInterface());
        ReadView(view.get());
    } catch (CZelPktException *e) {
        delete e;
    }
    if (packet->GetRefCount() != 1 || packet->GetLength() != n) __builtin_trap();
    packet->Release();

    // The same bytes as an MCS message and as a PIB.
    CBuffer bytes(reinterpret_cast<const char *>(data), n);
    CArcMcsData mcsData;
    mcsData.LoadFromBuffer(bytes, n);
    CBuffer out;
    mcsData.GetData(out, n / 3, n, size & 1);
    if (out.GetLength() > mcsData.GetDataBuffer().GetLength()) __builtin_trap();
    CBuffer stored;
    mcsData.StoreInBuffer(stored);
    if (stored.GetLength() != mcsData.GetLength()) __builtin_trap();

    CBuffer pib(reinterpret_cast<const char *>(data), n);
    CArcSnapShot snapshot;
    snapshot.LoadFromBuffer(pib, n);
    CBuffer pibOut;
    snapshot.StoreInBuffer(pibOut);
    if (pibOut.GetLength() != CArcSnapShot::GetLength()) __builtin_trap();
    CArcSnapShot::SetExtendedMode(true);
    return 0;
}
