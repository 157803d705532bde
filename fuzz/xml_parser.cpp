// fuzz-libs: qor_xml qor_arc
// XML reader over arbitrary bytes: the first byte picks XML or GET mode and
// buffer or stream input; every tree is walked, searched, extended and
// destroyed, and every node's stated length must match its text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "logprint.h"
#include "xmlparse.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    logOpen("/dev/null", 0);  // error lines and dumps run, output is dropped
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1 << 16)) return 0;
    const uint8_t mode = data[0];
    const bool get = mode & 1;
    const bool stream = mode & 2;
    // Exact-size copy so a read past the end is caught.
    char* text = static_cast<char*>(std::malloc(size - 1 ? size - 1 : 1));
    std::memcpy(text, data + 1, size - 1);

    XmlRef ref = XmlCreate();
    FILE* f = nullptr;
    if (stream && size > 1) f = fmemopen(text, size - 1, "r");
    int rc = XmlParse(ref, f, text, size - 1, get);
    if (rc != 0 && rc != -1 && rc != -2 && rc != -3) std::abort();
    // A strict reader's view (XML mode): an error of XmlParse is a fault
    // too, and every fault has a text.
    std::string fault;
    const int strict = XmlParseFault(ref, &fault);
    if (strict < XML_FAULT_READ || strict > 0 || (strict != 0) == fault.empty()) std::abort();
    if (get ? strict != 0 : rc != 0 && strict == 0) std::abort();

    size_t count = 0;
    for (xmlNode* n = XmlWalk(&ref, XML_WALK_FIRST); n; n = XmlWalk(&ref, XML_WALK_NEXT)) {
        if (!n->tag) std::abort();
        if (n->value && std::strlen(n->value) > static_cast<size_t>(n->vallen)) std::abort();
        for (xmlNode* a = n->attr; a; a = a->next)
            if (a->owner != n || !a->isAttribute) std::abort();
        if (++count > size * 2 + 2) std::abort();  // every node costs input
    }
    char found[8];
    XmlWalk(&ref, XML_WALK_FIND, "field", found, sizeof found);
    XmlWalk(&ref, XML_WALK_ADD_CHILD, "added", "1");
    XmlWalk(&ref, XML_WALK_ADD_SIBLING, "ADDED", static_cast<const char*>(nullptr));
    const int code = mode >> 4;  // codes 5 to 7 need arguments: called above
    if (code < 5 || code > 7) XmlWalk(&ref, code);
    XmlDestroyIt(&ref);
    if (f) std::fclose(f);
    std::free(text);
    return 0;
}
