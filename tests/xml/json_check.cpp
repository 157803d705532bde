// Writes JSON for the script test that reads it with Python's standard JSON
// parser: "json_check bytes" a tree whose values hold every byte from 1 to
// 255, "json_check xml FILE" the tree of an XML file.
#include <cstdio>
#include <cstring>
#include <string>

#include "xmlparse.h"
#include "xmlwrite.h"

int main(int argc, char** argv) {
    XmlRef ref = XmlCreate();
    if (argc == 2 && std::strcmp(argv[1], "bytes") == 0) {
        std::string all;
        for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
        XmlWalk(&ref, XML_WALK_ADD_CHILD, "all", all.c_str());
        XmlWalk(&ref, XML_WALK_ADD_SIBLING, "tag \"with\" \\ and \x01", "v");
    } else if (argc == 3 && std::strcmp(argv[1], "xml") == 0) {
        FILE* f = std::fopen(argv[2], "r");
        if (!f || XmlParse(ref, f, nullptr, 0, false) != 0) return 2;
        std::fclose(f);
    } else {
        std::fprintf(stderr, "usage: json_check bytes | json_check xml FILE\n");
        return 2;
    }
    const int rc = JsonWrite(ref, stdout, nullptr, 0);
    XmlDestroyIt(&ref);
    return rc == 0 ? 0 : 1;
}
