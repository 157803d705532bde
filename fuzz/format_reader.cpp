// fuzz-libs: qor_formats qor_foundation qor_arc
// Screen-format reader over arbitrary bytes: a read ends (the step cap
// bounds repeats), keeps nothing from the read before, and what it yields
// can be walked the way the writers walk it. The host-side reading of the
// same bytes refuses no more than the form-field reader does.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ArcMcsFormat.h"
#include "ArcTFDDataField.h"
#include "ArcTFDFormat.h"
#include "ZelBuffer.h"
#include "logprint.h"

namespace {

CArcTFDFormat *s_format;
CArcMcsFormat *s_host;

void Walk(const CArcTFDFormat &f) {
    const std::string &name = f.GetFormatName();
    if (name.empty() || name[0] == '.' || name.find_first_of("/\\ ") != std::string::npos) std::abort();
    if (f.GetFieldCount() > CArcTFDFormat::kMaxDescriptorSteps) std::abort();
    CBuffer out;
    for (int i = 0; i < f.GetFieldCount(); ++i) {
        const CArcTFDDrawableField *field = f.GetFieldByIdx(i);
        (void)CArcTFDDrawableFieldMeta::GetFieldPicAX9(field);
        (void)CArcTFDDrawableFieldMeta::GetFieldNameCStyle(field, i + 1);
        (void)field->GetText();
        if (const auto *d = dynamic_cast<const CArcTFDDataErrorField *>(field))
            if (d->GetDataOffset() < 0 || d->GetDataLength() < 0) std::abort();
        if (i < 64) {
            field->SaveIntoBuffer(out);
            if (field->Clone()->GetId() != field->GetId()) std::abort();
        }
    }
    (void)f.GetNextUnprotectedFieldFromPos(0, 0);
    (void)f.GetFirstUnprotectedPos();
    (void)f.GetTotalLengthOfDataFields();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    logOptions("qt");
    logOpen("/dev/null", 0);
    s_format = new CArcTFDFormat;
    s_host = new CArcMcsFormat;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1 << 16)) return 0;
    // One format object for every input, as the gateway keeps one.
    CBuffer bytes(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const Result live = s_format->ReadFromBuffer(bytes);
    if (live == Result::Success) Walk(*s_format);
    // However a read ends, it made no more fields than its screen has cells.
    if (s_format->GetFieldCount() > std::max(s_format->GetFormatHdrPeeker()->GetScreenCells(), 0)) std::abort();

    CBuffer again(reinterpret_cast<const char *>(data), static_cast<int>(size));
    if (s_host->ReadFromBuffer(again) != Result::Success) {
        if (live == Result::Success) std::abort();
    } else {
        const CArcMcsHelp &help = s_host->GetHelp();
        for (int i = 0; i < help.GetFieldCount() && i < 64; ++i) {
            const CArcMcsHelpField *e = help.GetField(i);
            if (help.FieldIndexFromPosition(e->GetRow(), e->GetColumn()) < i) std::abort();
        }
    }
    return 0;
}
