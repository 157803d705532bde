// fuzz-libs: qor_foundation qor_arc
// CBuffer's readers, positions and resizes driven by arbitrary bytes: the
// first part of the input chooses operations, the rest is the data. After
// every step the buffer must still describe memory inside its storage.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ZelBuffer.h"
#include "ZelFccMods.h"
#include "ZelName.h"

unsigned g_touched;   // keeps the byte walk below from being dropped

namespace {

void Check(const CBuffer &b) {
    if (b.GetOffset() < 0 || b.GetLength() < 0 ||
        static_cast<long long>(b.GetOffset()) + b.GetLength() > b.GetActualLength())
        abort();
    // Touch every valid byte so that the sanitizer sees any stray range.
    unsigned sum = 0;
    const char *p = b.GetBuffer();
    for (int i = 0; i < b.GetLength(); ++i) sum += static_cast<unsigned char>(p[i]);
    g_touched += sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const size_t opCount = in.ConsumeIntegralInRange<size_t>(0, 64);
    std::vector<uint8_t> ops = in.ConsumeBytes<uint8_t>(opCount * 3);
    std::vector<uint8_t> rest = in.ConsumeRemainingBytes<uint8_t>();

    CBuffer b(reinterpret_cast<const char *>(rest.data()), static_cast<int>(rest.size()));
    CBuffer other;
    std::string s;
    Check(b);
    for (size_t k = 0; k + 2 < ops.size(); k += 3) {
        const int arg = static_cast<int8_t>(ops[k + 1]) * (ops[k + 2] + 1);
        switch (ops[k] % 24) {
        case 0: { char c; b >> c; break; }
        case 1: { unsigned char c; b >> c; break; }
        case 2: { short v; b >> v; break; }
        case 3: { unsigned short v; b >> v; break; }
        case 4: { int v; b >> v; break; }
        case 5: { unsigned v; b >> v; break; }
        case 6: b >> s; break;
        case 7: b.GetString(s, arg); break;
        case 8: b.GetCobolString(s, arg, ops[k + 2] & 1); break;
        case 9: b.ParseToken(s, static_cast<char>(ops[k + 1])); break;
        case 10: { CZelName n(ops[k + 1] % 40); b >> n; b << n; break; }
        case 11: (void)b.GetWORD(arg); (void)b.GetDWORD(arg); break;
        case 12: (void)b.GetAt(arg); (void)b[arg]; break;
        case 13: b.SetOffset(arg); break;
        case 14: b.SetEndOfBuffer(arg); break;
        case 15: b.FreeExtra(); break;
        case 16: b.SetLength(arg, ops[k + 2] & 1); break;
        case 17: b.AddChars(b.GetBuffer(), std::min(b.GetLength(), 1000)); break;
        case 18: b.AddCobolString(s.c_str(), ops[k + 1] % 64 + 1); break;
        case 19: other.SetLength(ops[k + 1] % 32, 0); other.SetBuffer(&b, ops[k + 2] & 1); Check(other); break;
        case 20: other.CopyBuffer(&b); b = other; break;
        case 21: b.SetWORD(arg, 0xABCD); b.SetDWORD(arg, 0x01020304u); b.SetAt(arg, 'x'); break;
        case 22: (void)b.MatchChars(arg, s.c_str(), static_cast<int>(s.size())); break;
        case 23: { CZelFccMods m; m.GetBuffer() += b; m.TranslateMods(); Check(m.GetBuffer()); break; }
        }
        Check(b);
        if (b.GetActualLength() > (1 << 20)) b.SetLength(0, 0), b.FreeExtra();
    }
    return 0;
}
