// fuzz-libs: qor_foundation qor_arc
// PICTURE strings, records built from them and item reads and writes over
// arbitrary buffers. The first part of the input is a list of building and
// writing steps, the rest is the record's data.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "DataRecord.h"
#include "DataRecordPicture.h"
#include "ZelBuffer.h"

namespace {

const char *const kNames[] = {"a", "b", "c", "g", "h", "mcs.x", "G"};
const char *const kWords[] = {".index", ".max", ".count", ".other", ""};

const char *PickName(FuzzedDataProvider &in) {
    return kNames[in.ConsumeIntegralInRange<size_t>(0, std::size(kNames) - 1)];
}

// A parsed picture must agree with itself.
void CheckPicture(const std::string &text) {
    DataPicture p;
    if (!ParseDataPicture(text.c_str(), p)) return;
    if (p.length < 1 || p.length > CDataItem::kMaxExtent) abort();
    if (p.type == CDataItem::TypeEdited || p.type == CDataItem::TypeNumeric) {
        unsigned digits = 0;
        for (char c : p.mask) digits += c == '9' || c == 'Z' || c == '2';
        if (digits != p.length) abort();
    } else if (p.mask.size() != p.length) {
        abort();
    }
}

void ReadAll(const CDataRecord &r, const CBuffer &b) {
    for (const char *name : kNames) {
        for (const char *word : kWords) {
            std::string out;
            int isText = -1;
            try {
                r.GetStringValue(out, &b, std::string(name) + word, 1, &isText);
                if (isText != 0 && isText != 1) abort();
            } catch (const CZelDataException &) {
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    CheckPicture(in.ConsumeRandomLengthString(64));

    CDataRecord r;
    CBuffer scratch;
    const unsigned steps = in.ConsumeIntegralInRange<unsigned>(0, 40);
    for (unsigned s = 0; s < steps && in.remaining_bytes(); ++s) {
        const char *name = PickName(in);
        try {
            switch (in.ConsumeIntegralInRange<int>(0, 7)) {
            case 0: {
                const std::string picture = in.ConsumeRandomLengthString(24);
                const std::string def = in.ConsumeRandomLengthString(12);
                r.AddItem(name, picture.c_str(), def.c_str());
                break;
            }
            case 1:
                r.AddItem(name, in.ConsumeIntegralInRange<int>(-2, 6));
                break;
            case 2:
                r.BeginGroup(name, in.ConsumeIntegral<int>());
                break;
            case 3:
                r.EndGroup();
                break;
            case 4:
                r.SetGroupIndex(in.ConsumeIntegral<unsigned>(), name);
                break;
            case 5:
                r.SetValue(&scratch, name, in.ConsumeRandomLengthString(24));
                break;
            case 6:
                r.SetValue(&scratch, name, in.ConsumeIntegral<unsigned>());
                break;
            case 7:
                if (CDataItem *item = r.FindItem(name))
                    item->SetMaxOccurence(in.ConsumeIntegral<unsigned>());
                break;
            }
        } catch (const CZelDataException &) {
        }
        if (r.GetSize() > CDataRecord::kMaxRecordSize ||
            static_cast<unsigned>(scratch.GetLength()) > CDataItem::kMaxExtent)
            abort();
    }

    const std::string rest = in.ConsumeRemainingBytesAsString();
    CBuffer b(rest.data(), static_cast<int>(rest.size()));
    ReadAll(r, b);
    ReadAll(r, scratch);
    return 0;
}
