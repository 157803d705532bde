// fuzz-libs: qor_xml qor_arc
// JSON reader over arbitrary bytes (from a buffer, or a stream when the
// first byte is odd). A document that reads is written, read back and
// written again: the second text must equal the first. The record mapping
// then fills a record from the tree.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "logprint.h"
#include "xmlbook.h"
#include "xmlwrite.h"

namespace {

const char kMap[] =
    "0,40,6,0,XB-1.0\n"
    "1,a,,G,0,0,0,40,1\n"
    "5,n,-,D,5,2,0,5,1\n"
    "5,p,-,P,5,0,5,3,1\n"
    "5,c,,B,4,0,8,2,1\n"
    "5,l,,G,0,0,10,10,3,,0,0,0,c\n"
    "10,x,,X,10,0,10,10,1,,0,0,1\n";

XmlBook* map() {
    static XmlBook* m = [] {
        FILE* f = fmemopen(const_cast<char*>(kMap), sizeof kMap - 1, "r");
        XmlBook* b = XmlBookRead(f, "fuzz");
        std::fclose(f);
        return b;
    }();
    return m;
}

std::string write(XmlRef ref) {
    char* text = nullptr;
    size_t len = 0;
    FILE* f = open_memstream(&text, &len);
    if (JsonWrite(ref, f, nullptr, 0) != 0) std::abort();  // what was read can be written
    std::fclose(f);
    std::string out(text, len);
    std::free(text);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    logOpen("/dev/null", 0);
    if (!map()) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1 << 16)) return 0;
    const bool stream = data[0] & 1;
    // Exact-size copy so a read past the end is caught.
    char* text = static_cast<char*>(std::malloc(size - 1 ? size - 1 : 1));
    std::memcpy(text, data + 1, size - 1);
    FILE* f = stream && size > 1 ? fmemopen(text, size - 1, "r") : nullptr;

    XmlRef ref = XmlCreate();
    const int rc = JsonParse(ref, f, text, size - 1);
    if (rc != 0 && rc != -1) std::abort();
    if (rc == 0) {
        const std::string once = write(ref);
        XmlRef again = XmlCreate();
        if (JsonParse(again, nullptr, once.data(), once.size()) != 0) std::abort();
        if (write(again) != once) std::abort();
        XmlDestroyIt(&again);
        char record[40];
        std::memset(record, ' ', sizeof record);
        XmlToCobol(ref, map(), record, sizeof record);
    }
    XmlDestroyIt(&ref);
    if (f) std::fclose(f);
    std::free(text);
    return 0;
}
