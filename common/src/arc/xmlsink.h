// Internal to the XML unit: the output of the writers, and building and
// measuring trees.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>
#include <vector>

#include "xmlparse.h"

// Where a writer puts its document: a stream, a caller's buffer (while it
// has room), or both.
class XmlSink {
public:
    XmlSink(FILE* fd, char* buf, size_t buflen) : fd_(fd), buf_(buf), buflen_(buf ? buflen : 0) {}

    void put(std::string_view s);
    void put(char c) { put(std::string_view(&c, 1)); }
    // A formatted piece (a tag, a name): longer ones than the work area of
    // 2560 bytes are refused with "PROBLEM! %s:%d wrk is too small".
    void piece(std::string_view s, const char* file, int line) {
        if (fits(s.size(), file, line)) put(s);
    }
    // Whether a piece of n bytes fits the work area (else refused as above).
    bool fits(size_t n, const char* file, int line);
    // Ends the document: a NUL in the buffer when there is no stream.
    // Returns 0, or -1 when anything failed (too long a piece, a buffer
    // too small without a stream, a stream error).
    int finish();
    void fail() { failed_ = true; }

private:
    FILE* fd_;
    char* buf_;
    size_t buflen_;
    size_t used_ = 0;
    bool failed_ = false;
};

// Whether the elements below top (its children, their children, ...) nest
// deeper than limit levels; iterative, so any tree can be measured.
bool xmlDeeperThan(const xmlNode* top, int limit);

// Tags equal without regard to case.
bool xmlSameTag(const char* a, const char* b);

// Appends a child element to owner; tail is the owner's last child so far
// (null for none) and becomes the new node.
xmlNode* xmlAppendChild(xmlRoot* r, xmlNode* owner, xmlNode*& tail, const char* tag,
                        const char* value, size_t len);
// Marks a run of sibling nodes as one array (bgnArray, midArray,
// endArray; one node: bgnArray and endArray).
void xmlMarkRun(const std::vector<xmlNode*>& run);

// Appends an attribute to element.
xmlNode* xmlAppendAttr(xmlRoot* r, xmlNode* element, const char* tag, const char* value,
                       size_t len);
