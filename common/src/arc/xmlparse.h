// Small, forgiving XML reader and tree walk.
//
// A file or a memory buffer becomes a tree of xmlNode records owned by one
// xmlRoot; XmlWalk visits the tree element by element (parent before
// children) and can add nodes. A second input mode reads URL-encoded text
// ("a=1&b=2") into a flat list of nodes.
//
// The reader is lenient on purpose: no namespaces, DTD, processing
// instructions or CDATA; a missing close tag is forgiven when the parent's
// close tag follows; tag names compare without regard to case, and the first
// spelling met becomes the spelling of every later tag that differs only in
// case.
#pragma once

#include <cstdint>
#include <cstdio>
#include <forward_list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// One element, one attribute or one GET key.
struct xmlNode {
    xmlNode* next = nullptr;   // following sibling
    xmlNode* prev = nullptr;   // preceding sibling; first attribute: its element
    xmlNode* owner = nullptr;  // parent element (attribute: the element carrying it)
    xmlNode* sub = nullptr;    // first child element
    xmlNode* attr = nullptr;   // first attribute
    const char* tag = nullptr; // interned name, shared, lives as long as the tree
    char* value = nullptr;     // NUL-terminated text owned by the node, or null
    int32_t vallen = 0;        // length of value (joined texts may pass 32767)
    char quote = 0;            // '"' when an attribute value was quoted
    unsigned isAttribute : 1;
    unsigned isClosed : 1;     // written as <name ... />
    unsigned bgnArray : 1;     // first, middle and last member of a run of
    unsigned midArray : 1;     // siblings with the same tag
    unsigned endArray : 1;
    unsigned bgnObject : 1;    // has children or attributes (set by the walk)
    unsigned endObject : 1;    // last of its sibling list (set by the walk)
    unsigned isNotused : 1;

    xmlNode()
        : isAttribute(0), isClosed(0), bgnArray(0), midArray(0), endArray(0),
          bgnObject(0), endObject(0), isNotused(0) {}
    ~xmlNode() { delete[] value; }
    xmlNode(const xmlNode&) = delete;
    xmlNode& operator=(const xmlNode&) = delete;

    // Replaces the value with a copy of text (null clears it).
    void setValue(const char* text, size_t len);
};
using XmlNode = xmlNode;

// One per tree: the nodes, the tag pool and the parse/walk state.
struct xmlRoot {
    // State flags (writer flags are kept for the XML/JSON writers).
    unsigned useCrLf : 1;
    unsigned isInTag : 1;
    unsigned tagClosed : 1;
    unsigned isGet : 1;
    unsigned isJson : 1;
    unsigned commaDue : 1;
    unsigned inArray : 1;
    unsigned inObject : 1;
    unsigned outJson : 1;
    unsigned wasSpcl : 1;   // last character came from an escape or entity
    unsigned isChild : 1;
    unsigned noObject : 1;
    unsigned dataWritten : 1;
    unsigned doMsge : 1;
    unsigned didMsgeHdr : 1;
    unsigned doMsgeComma : 1;

    xmlNode* root = nullptr;  // the "$ r o o t $" node
    xmlNode* cur = nullptr;   // insertion point
    xmlNode* last = nullptr;  // node most recently returned by the walk
    int closeTag = 0;         // levels closed by the last walk step
    int peekch = -1;          // pushed-back character (-1 = none)
    int stopch = 0;           // what ended the last GET name ('&' or 0)
    FILE* fd = nullptr;       // input stream, or null
    const char* buf = nullptr;
    size_t pos = 0;
    size_t buflen = 0;
    int nest = 0;             // depth of the walk
    int pushArray = 0;        // writer state
    int pushObject = 0;
    std::string wrkstr;       // writer work string

    // The first fault of the last XML-mode parse (see XmlParseFault): its
    // code (0: none), the input line it was met on and what it was.
    int fault = 0;
    int faultLine = 0;
    std::string faultText;
    int line = 1;             // input line being read

    // Every node of the tree; destroying the root record frees them all
    // without recursion.
    std::vector<std::unique_ptr<xmlNode>> nodes;
    // Tag pool: interned names, looked up by their lower-case form.
    std::forward_list<std::string> list;
    std::unordered_map<std::string, const char*> listIndex;

    xmlRoot()
        : useCrLf(1), isInTag(0), tagClosed(0), isGet(0), isJson(0), commaDue(0),
          inArray(0), inObject(0), outJson(0), wasSpcl(0), isChild(0), noObject(0),
          dataWritten(0), doMsge(0), didMsgeHdr(0), doMsgeComma(0) {}

    xmlNode* newNode(const char* tag);
    const char* intern(const std::string& name);
};
using XmlRoot = xmlRoot;

// Handle of a tree: the root record and the current node of a walk.
struct XmlRef {
    xmlRoot* root = nullptr;
    xmlNode* node = nullptr;
};

// Walk function codes.
enum : int {
    XML_WALK_RESET = 0,
    XML_WALK_FIRST = 1,
    XML_WALK_NEXT = 2,
    XML_WALK_FIND = 5,      // name, char* buffer, size_t buffer size (pass a
                            // size_t: it is read from the variable arguments)
    XML_WALK_ADD_SIBLING = 6, // tag, value
    XML_WALK_ADD_CHILD = 7,   // tag, value
};

// A new empty tree (root node tagged "$ r o o t $"), node null.
XmlRef XmlCreate();

// Parses from fd when it is given (buf/buflen then only serve the error
// dump), else from the first buflen bytes of buf. Returns 0, or -1 (close tag
// without '>'), -2 (close tag that matches nothing open), -3 (attribute or GET
// key without '='). Nodes built before an error stay in the tree.
int XmlParse(XmlRef ref, FILE* fd, const char* buf, size_t buflen, bool bIsGet);

// Faults of a document that XmlParse itself forgives (it still returns 0
// for them), reported by XmlParseFault besides XmlParse's own -1 to -3.
enum : int {
    XML_FAULT_OPEN = -4,   // the input ended inside a tag, a comment, a
                           // quoted value or an element (the root included),
                           // or holds no element at all
    XML_FAULT_NAME = -5,   // a tag or attribute name that is empty or holds
                           // a character no XML name may hold (such as '<')
    XML_FAULT_READ = -6,   // the stream reported a read error
};

// Whether the last XmlParse of the tree (XML mode) read a whole document:
// 0, or the code of the first fault met in the input (XmlParse's own
// error, or one of the XML_FAULT codes). text, when given, receives
// "line N: " and what the fault was. A strict caller refuses the document
// on any fault; a lenient one (the tree is built either way) may use it.
int XmlParseFault(XmlRef ref, std::string* text = nullptr);

// Walk and add; returns the node or null. RESET returns the root node;
// FIRST the first top-level node; NEXT steps depth-first, parent before
// children (null at the end, ref->node then stays); FIND searches from the
// start for a tag (any case), copies its value (cut to the buffer) and
// leaves the node in ref->node; ADD_SIBLING / ADD_CHILD add a node behind
// or below the insertion point, which it then becomes. Other codes log
// "#XML Walk: bad function %d" and return null.
xmlNode* XmlWalk(XmlRef* ref, int function, ...);

// Frees the whole tree (nothing when ref.root is null).
void XmlDestroy(XmlRef ref);
// Destroys and nulls both fields of the handle.
void XmlDestroyIt(XmlRef* ref);

// Parses the rest of stream fd as XmlParse parses a buffer, with entity
// references ("&amp;", "&lt;", "&#65;", ...) decoded: a document that
// XmlWrite escaped (a record written by XmlFromCobol among them) reads
// back from its file as it was written. XmlParse from a stream decodes
// nothing, and the readers of the configuration and field files keep it
// so. Returns as XmlParse, or -1 when the stream cannot be read (logged).
int XmlParseDecoded(XmlRef ref, FILE* fd);
