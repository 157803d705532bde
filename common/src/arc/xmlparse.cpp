// XML reader (XML and GET modes), tree walk and node adding.
#include "xmlparse.h"

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <strings.h>

#include "logprint.h"

namespace {

constexpr int kEof = -1;
constexpr size_t kMaxName = 1023;   // a name is cut at this many characters
constexpr size_t kMaxValue = 2559;  // an attribute or GET value likewise
constexpr const char* kRootTag = "$ r o o t $";

bool isBlank(int c) { return c >= 0 && std::isspace(c); }

int hexDigit(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int dumpLength(size_t n) { return n > INT_MAX ? INT_MAX : static_cast<int>(n); }

// Links a new node in after the current one: as its last child, or as the
// last of its siblings.
void linkNode(xmlNode* cur, xmlNode* n, bool asChild) {
    xmlNode* last = asChild ? cur->sub : cur;
    if (asChild) {
        n->owner = cur;
        if (!last) {
            cur->sub = n;
            return;
        }
    } else {
        n->owner = cur->owner;
    }
    while (last->next) last = last->next;
    last->next = n;
    n->prev = last;
}

bool sameTag(const char* a, const char* b) {
    return a && b && (a == b || strcasecmp(a, b) == 0);
}

// Whether c may stand in an XML name (first: at its start). Bytes of 0x80
// and above are letters of some character set.
bool nameChar(unsigned char c, bool first) {
    if (c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':')
        return true;
    return !first && ((c >= '0' && c <= '9') || c == '-' || c == '.');
}

// The first character of a name that no XML name may hold, or -1 (an
// empty name gives 0).
int badNameChar(const std::string& name) {
    if (name.empty()) return 0;
    for (size_t i = 0; i < name.size(); ++i)
        if (!nameChar(static_cast<unsigned char>(name[i]), i == 0))
            return static_cast<unsigned char>(name[i]);
    return -1;
}

// Character source and parsing state of one XmlParse call.
class Reader {
public:
    explicit Reader(xmlRoot* r) : r_(r) {}

    int parseXml();
    int parseGet();

private:
    xmlRoot* r_;
    xmlNode* attrTail_ = nullptr;  // last attribute of the element being read

    // Notes the first fault of an XML-mode parse (XmlParseFault).
    void fault(int code, const std::string& text) {
        if (r_->isGet || r_->fault != 0) return;
        r_->fault = code;
        r_->faultLine = r_->line;
        r_->faultText = text;
    }
    void checkName(const std::string& name, const char* what);
    void checkEnd();

    int get();
    int entity();
    void unget(int c) {
        if (c != kEof) r_->peekch = c;
    }
    // Next character that is not a plain blank (escaped blanks are kept).
    int skipBlanks() {
        int c;
        do {
            c = get();
        } while (isBlank(c) && !r_->wasSpcl);
        return c;
    }
    std::string readName();
    std::string readValue(int quote);

    void comment();
    int closeTag();
    void startTag();
    void textRun();
    void markArrays();

    xmlNode* addNode(const std::string& tag, const std::string* value);
};

// One character; buffer input decodes entities (XML) or escapes (GET).
int Reader::get() {
    if (r_->peekch >= 0) {
        int c = r_->peekch;
        r_->peekch = -1;
        return c;
    }
    r_->wasSpcl = 0;
    if (r_->fd) {
        int c = std::fgetc(r_->fd);
        if (c == EOF) {
            if (std::ferror(r_->fd)) fault(XML_FAULT_READ, "the input could not be read");
            return kEof;
        }
        if (c == '\n') ++r_->line;
        return c;
    }
    if (!r_->buf || r_->pos >= r_->buflen) return kEof;
    int c = static_cast<unsigned char>(r_->buf[r_->pos++]);
    if (c == '\n') ++r_->line;
    if (r_->isGet) {
        if (c == '+') {
            r_->wasSpcl = 1;
            return ' ';
        }
        if (c == '%' && r_->pos + 1 < r_->buflen) {
            int hi = hexDigit(static_cast<unsigned char>(r_->buf[r_->pos]));
            int lo = hexDigit(static_cast<unsigned char>(r_->buf[r_->pos + 1]));
            if (hi >= 0 && lo >= 0) {
                r_->pos += 2;
                r_->wasSpcl = 1;
                return hi * 16 + lo;
            }
        }
        return c;  // a '%' without two hex digits stays as it is
    }
    return c == '&' ? entity() : c;
}

// Called just after '&' of buffer input: replaces a known reference.
int Reader::entity() {
    static const struct {
        const char* text;
        char result;
    } refs[] = {{"amp;", '&'},   {"lt;", '<'},    {"gt;", '>'},   {"quot;", '"'},
                {"nbsp;", ' '},  {"ensp;", ' '},  {"emsp;", ' '}};
    const size_t left = r_->buflen - r_->pos;
    const char* at = r_->buf + r_->pos;
    for (const auto& ref : refs) {
        size_t n = std::strlen(ref.text);
        if (n <= left && std::memcmp(at, ref.text, n) == 0) {
            r_->pos += n;
            r_->wasSpcl = 1;
            return static_cast<unsigned char>(ref.result);
        }
    }
    if (left >= 2 && at[0] == '#' && at[1] >= '0' && at[1] <= '9') {
        // Decimal byte: digits accumulate (8 bits), other characters are
        // passed over, ';' or the end of the text ends the reference.
        r_->pos++;
        unsigned value = 0;
        while (r_->pos < r_->buflen && r_->buf[r_->pos] != '\0') {
            char d = r_->buf[r_->pos++];
            if (d == ';') break;
            if (d >= '0' && d <= '9') value = (value * 10 + (d - '0')) & 0xFF;
        }
        r_->wasSpcl = 1;
        return static_cast<int>(value);
    }
    return '&';
}

std::string Reader::readName() {
    r_->stopch = 0;
    std::string name;
    int c = skipBlanks();
    while (c != kEof) {
        if (!r_->wasSpcl) {
            if (isBlank(c)) break;  // the blank is consumed
            if (c == '>' || c == '/' || c == '=') {
                unget(c);
                break;
            }
            if (r_->isGet && c == '&') {
                r_->stopch = '&';
                break;
            }
        }
        if (name.size() < kMaxName) name += static_cast<char>(c);
        c = get();
    }
    return name;
}

std::string Reader::readValue(int quote) {
    std::string value;
    auto add = [&](int c) {
        if (value.size() < kMaxValue) value += static_cast<char>(c);
    };
    int c;
    if (quote) {
        while ((c = get()) != kEof && !(c == quote && !r_->wasSpcl)) add(c);
        if (c == kEof) fault(XML_FAULT_OPEN, "the input ends inside a quoted value");
        return value;
    }
    c = skipBlanks();
    while (c != kEof) {
        if (!r_->wasSpcl) {
            if (isBlank(c) || (!r_->isGet && c == '>')) {
                unget(c);
                break;
            }
            if (r_->isGet && c == '&') break;  // consumed
        }
        add(c);
        c = get();
    }
    return value;
}

xmlNode* Reader::addNode(const std::string& tag, const std::string* value) {
    xmlNode* n = r_->newNode(r_->intern(tag));
    if (value) n->setValue(value->data(), value->size());
    return n;
}

// "<!-": skipped up to a '>' that follows a '-' (blanks between ignored).
void Reader::comment() {
    int prev = '-';
    int c;
    while ((c = get()) != kEof) {
        if (c == '>' && prev == '-') return;
        if (!isBlank(c)) prev = c;
    }
    fault(XML_FAULT_OPEN, "the input ends inside a comment");
}

// A name from the input as a fault text shows it.
std::string shown(const std::string& name) { return logSafeText(name, 60); }

void Reader::checkName(const std::string& name, const char* what) {
    const int bad = badNameChar(name);
    if (bad < 0) return;
    if (bad == 0)
        fault(XML_FAULT_NAME, std::string("an empty ") + what + " name");
    else if (bad > ' ' && bad < 0x7F)
        fault(XML_FAULT_NAME, std::string("the ") + what + " name \"" + shown(name) + "\" holds '" +
                                  static_cast<char>(bad) + "'");
    else
        fault(XML_FAULT_NAME, std::string("the ") + what + " name \"" + shown(name) +
                                  "\" holds the control character " + std::to_string(bad));
}

// At the end of the input: whatever is still open is cut off.
void Reader::checkEnd() {
    if (r_->isInTag) {
        fault(XML_FAULT_OPEN, "the input ends inside the tag <" +
                                  shown(r_->cur && r_->cur->tag ? r_->cur->tag : "") + ">");
        return;
    }
    std::vector<const xmlNode*> open;   // innermost first
    for (const xmlNode* n = r_->tagClosed && r_->cur ? r_->cur->owner : r_->cur; n && n != r_->root;
         n = n->owner)
        open.push_back(n);
    // A document has at least its root element: an input without one (an
    // empty file) is one cut off before it began.
    if (open.empty() && !r_->root->sub) fault(XML_FAULT_OPEN, "the input holds no element");
    if (open.empty()) return;
    // Outermost first; of a deep nest the two outermost and two innermost.
    std::string names;
    for (size_t i = open.size(); i-- > 0;) {
        if (open.size() > 4 && i == open.size() - 3) {
            names += " ...";
            i = 1;
        }
        names += std::string(names.empty() ? "" : " ") + "<" + shown(open[i]->tag ? open[i]->tag : "") + ">";
    }
    fault(XML_FAULT_OPEN, "the input ends with " + names + " still open");
}

int Reader::closeTag() {
    std::string name = readName();
    if (skipBlanks() != '>') {
        logPrintf("# XML: missing > for %s\n", name.c_str());
        fault(-1, "the close tag </" + shown(name) + "> has no '>'");
        return -1;
    }
    xmlNode* cur = r_->cur;
    // A top-level close tag has nothing open to close.
    bool atTop = !cur || cur == r_->root;
    if (!atTop && !sameTag(cur->tag, name.c_str()) && cur->owner &&
        cur->owner != r_->root && sameTag(cur->owner->tag, name.c_str()))
        r_->cur = cur = cur->owner;  // the child's close tag was missing
    if (atTop || !sameTag(cur->tag, name.c_str())) {
        logPrintf("# XML: mismatch %s != /%s\n", cur ? cur->tag : "", name.c_str());
        // The element left open (a closed one's owner) is what it fails to close.
        const xmlNode* open = atTop ? nullptr : r_->tagClosed ? cur->owner : cur;
        fault(-2, !open || open == r_->root
                      ? "the close tag </" + shown(name) + "> closes no element"
                      : "the close tag </" + shown(name) + "> does not close <" + shown(open->tag) + ">");
        // A caller reading from a stream may still hand a buffer: it is
        // there for this dump.
        if (r_->buf && r_->buflen > 0)
            logDumpChar("XML data was", r_->buf, dumpLength(r_->buflen));
        return -2;
    }
    r_->tagClosed = 1;
    return 0;
}

void Reader::startTag() {
    r_->isInTag = 1;
    const std::string name = readName();
    checkName(name, "tag");
    xmlNode* n = addNode(name, nullptr);
    linkNode(r_->cur, n, !r_->tagClosed);
    r_->cur = n;
    r_->tagClosed = 0;
}

// Element text up to the next '<'; '#' lines are comments.
void Reader::textRun() {
    std::string text;
    int c;
    while ((c = get()) != kEof) {
        if (text.empty()) {
            if (isBlank(c)) continue;
            if (c == '#') {
                while ((c = get()) != kEof && c != '\n') {
                }
                if (c == kEof) break;
                continue;
            }
        }
        // A '<' written as "&lt;" is text, so what the writer escapes reads back.
        if (c == '<' && !r_->wasSpcl) {
            unget(c);
            break;
        }
        text += static_cast<char>(c);
    }
    while (!text.empty() && isBlank(static_cast<unsigned char>(text.back()))) text.pop_back();
    if (text.empty()) return;
    xmlNode* target = (r_->tagClosed && r_->cur->owner) ? r_->cur->owner : r_->cur;
    if (target->value) text = std::string(target->value, target->vallen) + " " + text;
    target->setValue(text.data(), text.size());
}

// Marks runs of siblings that share a tag (first, middle, last).
void Reader::markArrays() {
    XmlRef ref{r_, nullptr};
    for (xmlNode* n = XmlWalk(&ref, XML_WALK_FIRST); n; n = XmlWalk(&ref, XML_WALK_NEXT)) {
        if (!n->tag || n->bgnArray || n->midArray) continue;
        if (!n->next || !sameTag(n->next->tag, n->tag)) continue;
        n->bgnArray = 1;
        xmlNode* m = n->next;
        while (m->next && sameTag(m->next->tag, n->tag)) {
            m->midArray = 1;
            m = m->next;
        }
        m->endArray = 1;
    }
}

int Reader::parseXml() {
    int c;
    while ((c = get()) != kEof) {
        if (r_->isInTag) {
            if (isBlank(c)) {
                unget(skipBlanks());
            } else if (c == '/') {
                r_->cur->isClosed = 1;
                r_->tagClosed = 1;
            } else if (c == '>') {
                r_->isInTag = 0;
            } else {
                unget(c);
                std::string name = readName();
                checkName(name, "attribute");
                if (skipBlanks() != '=') {
                    logPrintf("# XML: missing = for attribute %s\n", name.c_str());
                    fault(-3, "the attribute " + shown(name) + " has no '='");
                    return -3;
                }
                xmlNode* owner = r_->cur;
                xmlNode* a = addNode(name, nullptr);
                a->isAttribute = 1;
                a->owner = owner;
                if (!owner->attr) {
                    owner->attr = a;
                    a->prev = owner;
                } else {
                    xmlNode* last = attrTail_ && attrTail_->owner == owner ? attrTail_ : owner->attr;
                    while (last->next) last = last->next;
                    last->next = a;
                    a->prev = last;
                }
                attrTail_ = a;
                std::string value;
                c = get();
                if (c == '"') {
                    value = readValue('"');
                    a->quote = '"';
                } else {
                    unget(c);
                    value = readValue(0);
                }
                a->setValue(value.data(), value.size());
            }
            continue;
        }
        if (c == '<' && !r_->wasSpcl) {
            c = skipBlanks();
            if (c == '!') {
                int d = skipBlanks();
                if (d == '-') {
                    comment();
                    continue;
                }
                unget(d);
                startTag();
            } else if (c == '/') {
                int rc = closeTag();
                if (rc) return rc;
            } else {
                unget(c);
                startTag();
            }
            continue;
        }
        unget(c);
        textRun();
    }
    checkEnd();
    markArrays();
    r_->nest = 0;
    r_->last = nullptr;
    r_->closeTag = 0;
    return 0;
}

int Reader::parseGet() {
    xmlNode* tail = r_->root;
    while (tail->next) tail = tail->next;
    auto append = [&](xmlNode* n) {
        tail->next = n;
        n->prev = tail;
        tail = n;
    };
    const std::string blank(" ");
    int c;
    bool first = true;
    while ((c = get()) != kEof) {
        // A '&' as the very first character is passed over; a later one
        // where a key would start is an empty key.
        const bool leadingAmp = first && c == '&' && !r_->wasSpcl;
        first = false;
        if ((leadingAmp || isBlank(c)) && !r_->wasSpcl) continue;
        unget(c);
        std::string key = readName();
        if (r_->stopch == '&') {
            append(addNode(key, &blank));
            continue;
        }
        c = skipBlanks();
        if (c != '=') {
            if (c == '/' && strcasecmp(key.c_str(), "HTTP") == 0) break;
            if (r_->fd || !r_->buf) {
                logPrintf("# XML: GET missing = for keyword %s; At char '%c'\n", key.c_str(),
                          c == kEof ? '?' : c);
            } else {
                size_t from = r_->pos > 0 ? r_->pos - 1 : 0;
                if (from > r_->buflen) from = r_->buflen;
                size_t n = r_->buflen - from < 10 ? r_->buflen - from : 10;
                logPrintf("# XML: GET missing = for keyword %s; At '%.*s'\n", key.c_str(),
                          static_cast<int>(n), r_->buf + from);
                logDumpChar("GET Data", r_->buf, dumpLength(r_->buflen));
            }
            return -3;
        }
        c = get();
        std::string value;
        if (c == '"' && !r_->wasSpcl) {
            value = readValue('"');
        } else if (c == '&' && !r_->wasSpcl) {
            value = blank;
        } else {
            unget(c);
            value = readValue(0);
        }
        append(addNode(key, &value));
    }
    r_->nest = 0;
    r_->last = nullptr;
    r_->closeTag = 0;
    return 0;
}

// One depth-first step (parent before children) from ref->node.
xmlNode* walkNext(XmlRef* ref) {
    xmlRoot* r = ref->root;
    xmlNode* n = ref->node ? ref->node : r->root;
    if (n->attr) n->bgnObject = 1;
    if (n->sub) {
        n->bgnObject = 1;
        r->nest++;
        r->closeTag = 0;
        r->last = ref->node = n->sub;
        return n->sub;
    }
    r->closeTag = 1;
    if (n->next) {
        r->last = ref->node = n->next;
        return n->next;
    }
    n->endObject = 1;
    for (xmlNode* up = n->owner; up; up = up->owner) {
        r->nest--;
        r->closeTag++;
        if (up->next && up->next != r->last) {
            r->last = ref->node = up->next;
            return up->next;
        }
    }
    return nullptr;
}

void walkReset(XmlRef* ref) {
    ref->root->nest = 0;
    ref->root->last = nullptr;
    ref->root->closeTag = 0;
    ref->node = ref->root->root;
}

xmlNode* walkAdd(XmlRef* ref, bool child, const char* tag, const char* value) {
    xmlRoot* r = ref->root;
    xmlNode* n = r->newNode(r->intern(tag ? tag : ""));
    if (value) n->setValue(value, std::strlen(value));
    n->bgnObject = r->inObject;
    if (r->inArray) {
        n->bgnArray = 1;
        r->inArray = 0;
    }
    linkNode(r->cur, n, child);
    if (child) r->isChild = 0;
    r->cur = n;
    r->tagClosed = 0;
    return n;
}

}  // namespace

void xmlNode::setValue(const char* text, size_t len) {
    delete[] value;
    value = nullptr;
    vallen = 0;
    if (!text) return;
    value = new char[len + 1];
    std::memcpy(value, text, len);
    value[len] = '\0';
    vallen = static_cast<int32_t>(len);
}

xmlNode* xmlRoot::newNode(const char* tag) {
    nodes.push_back(std::make_unique<xmlNode>());
    xmlNode* n = nodes.back().get();
    n->tag = tag;
    return n;
}

const char* xmlRoot::intern(const std::string& name) {
    std::string key(name);
    for (char& ch : key) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    auto it = listIndex.find(key);
    if (it != listIndex.end()) return it->second;
    list.push_front(name);
    const char* pooled = list.front().c_str();
    listIndex.emplace(std::move(key), pooled);
    return pooled;
}

XmlRef XmlCreate() {
    XmlRef ref;
    ref.root = new xmlRoot;
    ref.root->root = ref.root->newNode(ref.root->intern(kRootTag));
    ref.root->cur = ref.root->root;
    return ref;
}

int XmlParse(XmlRef ref, FILE* fd, const char* buf, size_t buflen, bool bIsGet) {
    xmlRoot* r = ref.root;
    if (!r) return -1;
    r->fd = fd;
    r->buf = buf;
    r->buflen = buf ? buflen : 0;
    r->pos = 0;
    r->peekch = -1;
    r->isGet = bIsGet;
    r->isInTag = 0;
    r->wasSpcl = 0;
    r->fault = 0;
    r->faultLine = 0;
    r->faultText.clear();
    r->line = 1;
    Reader reader(r);
    int rc = bIsGet ? reader.parseGet() : reader.parseXml();
    r->fd = nullptr;
    r->buf = nullptr;
    r->buflen = 0;
    r->pos = 0;
    r->peekch = -1;
    return rc;
}

xmlNode* XmlWalk(XmlRef* ref, int function, ...) {
    if (!ref || !ref->root) return nullptr;
    va_list ap;
    va_start(ap, function);
    xmlNode* result = nullptr;
    switch (function) {
    case XML_WALK_RESET:
        walkReset(ref);
        result = ref->node;
        break;
    case XML_WALK_FIRST:
        walkReset(ref);
        result = walkNext(ref);
        break;
    case XML_WALK_NEXT:
        result = walkNext(ref);
        break;
    case XML_WALK_FIND: {
        const char* name = va_arg(ap, const char*);
        char* out = va_arg(ap, char*);
        size_t size = va_arg(ap, size_t);
        if (out && size > 0) out[0] = '\0';
        walkReset(ref);
        for (xmlNode* n = walkNext(ref); n; n = walkNext(ref)) {
            if (name && sameTag(n->tag, name)) {
                if (out && size > 0 && n->value)
                    std::snprintf(out, size, "%s", n->value);
                ref->node = n;
                result = n;
                break;
            }
        }
        break;
    }
    case XML_WALK_ADD_SIBLING:
    case XML_WALK_ADD_CHILD: {
        const char* tag = va_arg(ap, const char*);
        const char* value = va_arg(ap, const char*);
        result = walkAdd(ref, function == XML_WALK_ADD_CHILD, tag, value);
        break;
    }
    default:
        logPrintf("#XML Walk: bad function %d\n", function);
        break;
    }
    va_end(ap);
    return result;
}

int XmlParseFault(XmlRef ref, std::string* text) {
    if (text) text->clear();
    if (!ref.root) return 0;
    if (text && ref.root->fault != 0)
        *text = "line " + std::to_string(ref.root->faultLine) + ": " + ref.root->faultText;
    return ref.root->fault;
}

void XmlDestroy(XmlRef ref) { delete ref.root; }

void XmlDestroyIt(XmlRef* ref) {
    if (!ref) return;
    XmlDestroy(*ref);
    ref->root = nullptr;
    ref->node = nullptr;
}
