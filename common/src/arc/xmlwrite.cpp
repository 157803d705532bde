// XML writer, the writers' output and tree helpers, and XmlMorphName.
#include "xmlwrite.h"

#include <cctype>
#include <cstring>
#include <strings.h>

#include "logprint.h"
#include "xmlsink.h"

namespace {

constexpr size_t kWorkArea = 2560;  // longest formatted piece, with its NUL

}  // namespace

// ------------------------------------------------------------------ sink --

void XmlSink::put(std::string_view s) {
    if (s.empty()) return;
    if (fd_ && std::fwrite(s.data(), 1, s.size(), fd_) != s.size()) failed_ = true;
    if (!buf_) return;
    // Without a stream one byte stays free for the closing NUL.
    const size_t room = buflen_ - used_ - (fd_ || buflen_ == used_ ? 0 : 1);
    const size_t n = s.size() < room ? s.size() : room;
    std::memcpy(buf_ + used_, s.data(), n);
    used_ += n;
    if (n < s.size() && !fd_) failed_ = true;
}

bool XmlSink::fits(size_t n, const char* file, int line) {
    if (n < kWorkArea) return true;
    std::fprintf(stderr, "PROBLEM! %s:%d wrk is too small\n", file, line);
    failed_ = true;
    return false;
}

int XmlSink::finish() {
    if (buf_ && !fd_ && buflen_ > 0) buf_[used_ < buflen_ ? used_ : buflen_ - 1] = '\0';
    if (buf_ && !fd_ && buflen_ == 0) failed_ = true;
    if (fd_ && std::fflush(fd_) != 0) failed_ = true;
    return failed_ ? -1 : 0;
}

// ------------------------------------------------------------ tree help --

bool xmlSameTag(const char* a, const char* b) {
    return a && b && (a == b || strcasecmp(a, b) == 0);
}

bool xmlDeeperThan(const xmlNode* top, int limit) {
    if (!top) return false;
    const xmlNode* n = top->sub;
    int depth = 1;
    while (n) {
        if (depth > limit) return true;
        if (n->sub) {
            n = n->sub;
            ++depth;
            continue;
        }
        while (n && n != top && !n->next) {
            n = n->owner;
            --depth;
        }
        if (!n || n == top) break;
        n = n->next;
    }
    return false;
}

xmlNode* xmlAppendChild(xmlRoot* r, xmlNode* owner, xmlNode*& tail, const char* tag,
                        const char* value, size_t len) {
    xmlNode* n = r->newNode(r->intern(tag ? tag : ""));
    if (value) n->setValue(value, len);
    n->owner = owner;
    if (!tail) {
        // The owner may already have children the caller does not know of.
        tail = owner->sub;
        while (tail && tail->next) tail = tail->next;
    }
    if (tail) {
        tail->next = n;
        n->prev = tail;
    } else {
        owner->sub = n;
    }
    tail = n;
    return n;
}

void xmlMarkRun(const std::vector<xmlNode*>& run) {
    for (size_t i = 0; i < run.size(); ++i) {
        run[i]->bgnArray = i == 0;
        run[i]->midArray = i > 0 && i + 1 < run.size();
        run[i]->endArray = i + 1 == run.size();
    }
}

xmlNode* xmlAppendAttr(xmlRoot* r, xmlNode* element, const char* tag, const char* value,
                       size_t len) {
    xmlNode* a = r->newNode(r->intern(tag ? tag : ""));
    a->isAttribute = 1;
    a->owner = element;
    a->quote = '"';
    a->setValue(value ? value : "", value ? len : 0);
    if (!element->attr) {
        element->attr = a;
        a->prev = element;
    } else {
        xmlNode* last = element->attr;
        while (last->next) last = last->next;
        last->next = a;
        a->prev = last;
    }
    return a;
}

// ---------------------------------------------------------------- XML --

namespace {

class XmlWriter {
public:
    XmlWriter(const xmlRoot* r, XmlSink& out) : out_(out), eol_(r->useCrLf ? "\r\n" : "\n") {}

    void element(const xmlNode* n, int depth) {
        indent(depth);
        out_.put('<');
        out_.piece(n->tag ? n->tag : "", __FILE__, __LINE__);
        for (const xmlNode* a = n->attr; a; a = a->next) {
            out_.put(' ');
            out_.piece(a->tag ? a->tag : "", __FILE__, __LINE__);
            out_.put("=\"");
            escaped(a, true);
            out_.put('"');
        }
        const bool hasText = n->value && n->vallen > 0;
        if (n->isClosed && !hasText && !n->sub) {
            out_.put("/>");
            out_.put(eol_);
            return;
        }
        out_.put('>');
        if (hasText) escaped(n, false);
        if (n->sub) {
            out_.put(eol_);
            for (const xmlNode* c = n->sub; c; c = c->next) element(c, depth + 1);
            indent(depth);
        }
        out_.put("</");
        out_.piece(n->tag ? n->tag : "", __FILE__, __LINE__);
        out_.put('>');
        out_.put(eol_);
    }

private:
    XmlSink& out_;
    const char* eol_;

    void indent(int depth) {
        for (int i = 1; i < depth; ++i) out_.put(' ');
    }

    // The node's value with the characters the reader would take as markup
    // written as entities.
    void escaped(const xmlNode* n, bool attribute) {
        if (!n->value) return;
        const std::string_view v(n->value, static_cast<size_t>(n->vallen));
        size_t from = 0;
        for (size_t i = 0; i < v.size(); ++i) {
            const char* entity = nullptr;
            switch (v[i]) {
            case '&': entity = "&amp;"; break;
            case '<': entity = "&lt;"; break;
            case '>': entity = "&gt;"; break;
            case '"': entity = attribute ? "&quot;" : nullptr; break;
            default: break;
            }
            if (!entity) continue;
            out_.put(v.substr(from, i - from));
            out_.put(entity);
            from = i + 1;
        }
        out_.put(v.substr(from));
    }
};

}  // namespace

int XmlWrite(XmlRef ref, FILE* fd, char* buf, size_t buflen) {
    XmlSink out(fd, buf, buflen);
    if (!ref.root || !ref.root->root) return out.finish();
    const xmlNode* top = ref.root->root;
    if (xmlDeeperThan(top, kXmlMaxDepth)) {
        logPrintf("#XML write: elements nested deeper than %d levels\n", kXmlMaxDepth);
        out.fail();
        return out.finish();
    }
    XmlWriter w(ref.root, out);
    for (const xmlNode* n = top->sub; n; n = n->next) w.element(n, 1);
    // Keys read in GET mode follow the root node.
    for (const xmlNode* n = top->next; n; n = n->next) w.element(n, 1);
    return out.finish();
}

// ------------------------------------------------------------ names --

const char* XmlMorphName(const char* name, char* out) {
    static char shared[9];
    char* to = out ? out : shared;
    size_t n = 0;
    for (; name && n < 8; ++n) {
        const unsigned char c = static_cast<unsigned char>(name[n]);
        if (c <= ' ' || c == 0x7F) break;
        to[n] = c == '_' ? 'x' : c == '$' ? '_' : static_cast<char>(std::tolower(c));
    }
    to[n] = '\0';
    return to;
}
