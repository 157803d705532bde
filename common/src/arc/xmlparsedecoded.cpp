// A stream read as a buffer, so that its entity references are decoded.
#include <cerrno>
#include <cstring>
#include <string>

#include "logprint.h"
#include "xmlparse.h"

int XmlParseDecoded(XmlRef ref, FILE* fd) {
    if (!ref.root || !fd) return -1;
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, fd)) > 0) text.append(chunk, n);
    if (std::ferror(fd)) {
        logPrintf("# XML: cannot read the document: %s\n", std::strerror(errno));
        return -1;
    }
    return XmlParse(ref, nullptr, text.data(), text.size(), false);
}
