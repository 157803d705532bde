// JSON over the XML unit's trees: reader, writer and string escaping (the
// mapping of members to nodes is described in xmlwrite.h).
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "logprint.h"
#include "xmlsink.h"
#include "xmlwrite.h"

namespace {

// Longest member name: as the XML reader's names, and within what the
// writers' work area takes.
constexpr size_t kMaxKey = 1023;

// ---------------------------------------------------------------- reader --

class JsonReader {
public:
    JsonReader(xmlRoot* r, std::string_view text) : r_(r), s_(text) {}

    bool document() {
        skipWs();
        if (!at('{')) return parseError();
        ++p_;
        xmlNode* tail = nullptr;
        if (!object(r_->root, tail, true, 1)) return false;
        skipWs();
        return p_ == s_.size() || parseError();
    }

private:
    xmlRoot* r_;
    std::string_view s_;
    size_t p_ = 0;

    bool at(char c) const { return p_ < s_.size() && s_[p_] == c; }
    void skipWs() {
        while (p_ < s_.size() && (s_[p_] == ' ' || s_[p_] == '\t' || s_[p_] == '\n' || s_[p_] == '\r'))
            ++p_;
    }
    // Up to 20 characters from the read position, for messages.
    std::string near() const {
        std::string out;
        for (size_t i = p_; i < s_.size() && out.size() < 20; ++i)
            out += std::isprint(static_cast<unsigned char>(s_[i])) ? s_[i] : '.';
        return out;
    }
    bool parseError() {
        logPrintf("#ERROR JP parse error near %s\n", near().c_str());
        return false;
    }
    bool tooDeep() {
        logPrintf("#ERROR JSON nested deeper than %d levels near %s\n", kXmlMaxDepth,
                  near().c_str());
        return false;
    }

    static bool hex4(std::string_view s, size_t at, unsigned& v) {
        if (at + 4 > s.size()) return false;
        v = 0;
        for (size_t i = at; i < at + 4; ++i) {
            const char c = s[i];
            const int d = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (d < 0) return false;
            v = v * 16 + static_cast<unsigned>(d);
        }
        return true;
    }

    // A string at the read position (on its opening quote) into out. The
    // document is UTF-8, and the tree holds one byte a character (as the
    // writer reads it): a character up to U+00FF, raw or escaped, becomes
    // its byte; a higher one, or bytes that are not UTF-8, is refused.
    bool string(std::string& out) {
        ++p_;
        while (p_ < s_.size()) {
            const unsigned char c = static_cast<unsigned char>(s_[p_]);
            if (c == '"') {
                ++p_;
                return true;
            }
            if (c < 0x20) return parseError();
            if (c >= 0x80) {
                unsigned cp;
                const size_t n = utf8(s_, p_, cp);
                if (n == 0) return notUtf8();
                if (cp > 0xFF) return aboveLatin1(cp);
                out += static_cast<char>(cp);
                p_ += n;
                continue;
            }
            if (c != '\\') {
                out += static_cast<char>(c);
                ++p_;
                continue;
            }
            if (p_ + 1 >= s_.size()) break;
            const char e = s_[p_ + 1];
            p_ += 2;
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned cp;
                const size_t at = p_ - 2;
                if (!hex4(s_, p_, cp)) return parseError();
                p_ += 4;
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    unsigned lo;
                    if (!(p_ + 1 < s_.size() && s_[p_] == '\\' && s_[p_ + 1] == 'u' &&
                          hex4(s_, p_ + 2, lo) && lo >= 0xDC00 && lo <= 0xDFFF))
                        return parseError();
                    p_ += 6;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    return parseError();
                }
                if (cp > 0xFF) {
                    p_ = at;  // show the escape
                    return aboveLatin1(cp);
                }
                out += static_cast<char>(cp);
                break;
            }
            default:
                p_ -= 2;  // show the escape
                return parseError();
            }
        }
        return parseError();
    }

    // The UTF-8 sequence at s[at] (a byte from 0x80 on): its length and
    // character, or 0 when it is not UTF-8 (a stray continuation byte, a
    // cut or overlong sequence, a surrogate, beyond U+10FFFF).
    static size_t utf8(std::string_view s, size_t at, unsigned& cp) {
        const unsigned char b = static_cast<unsigned char>(s[at]);
        size_t n;
        unsigned min;
        if (b >= 0xC2 && b <= 0xDF) {
            n = 2, min = 0x80, cp = b & 0x1Fu;
        } else if (b >= 0xE0 && b <= 0xEF) {
            n = 3, min = 0x800, cp = b & 0x0Fu;
        } else if (b >= 0xF0 && b <= 0xF4) {
            n = 4, min = 0x10000, cp = b & 0x07u;
        } else {
            return 0;
        }
        if (at + n > s.size()) return 0;
        for (size_t i = 1; i < n; ++i) {
            const unsigned char t = static_cast<unsigned char>(s[at + i]);
            if ((t & 0xC0) != 0x80) return 0;
            cp = cp << 6 | (t & 0x3Fu);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
        return n;
    }

    bool notUtf8() {
        logPrintf("#ERROR JSON text is not UTF-8 near %s\n", near().c_str());
        return false;
    }
    bool aboveLatin1(unsigned cp) {
        logPrintf("#ERROR JSON character U+%04X is above U+00FF near %s\n", cp, near().c_str());
        return false;
    }

    // A number, true, false or null at the read position; null gives
    // isNull.
    bool literal(std::string& out, bool& isNull) {
        isNull = false;
        for (const char* word : {"true", "false", "null"}) {
            const size_t n = std::strlen(word);
            if (s_.compare(p_, n, word) == 0) {
                p_ += n;
                isNull = word[0] == 'n';
                if (!isNull) out = word;
                return true;
            }
        }
        const size_t start = p_;
        auto digits = [&] {
            const size_t from = p_;
            while (p_ < s_.size() && s_[p_] >= '0' && s_[p_] <= '9') ++p_;
            return p_ > from;
        };
        if (at('-')) ++p_;
        if (at('0'))
            ++p_;
        else if (!digits())
            return what(start);
        if (at('.')) {
            ++p_;
            if (!digits()) return parseError();
        }
        if (at('e') || at('E')) {
            ++p_;
            if (at('+') || at('-')) ++p_;
            if (!digits()) return parseError();
        }
        out.assign(s_.substr(start, p_ - start));
        return true;
    }

    bool what(size_t at) {
        p_ = at;
        if (p_ >= s_.size()) return parseError();
        logPrintf("#ERROR what is %c\n", s_[p_]);
        return false;
    }

    // A scalar value at the read position; null gives isNull.
    bool scalar(std::string& out, bool& isNull) {
        isNull = false;
        if (at('"')) return string(out);
        return literal(out, isNull);
    }

    // Members up to the closing '}' (the '{' has been read) below owner.
    bool object(xmlNode* owner, xmlNode*& tail, bool top, int depth) {
        skipWs();
        if (at('}')) {
            ++p_;
            return true;
        }
        while (true) {
            skipWs();
            if (!at('"')) {
                logPrintf("#ERROR JSON syntax error at : no string near (%s)\n", near().c_str());
                return false;
            }
            std::string key;
            if (!string(key)) return false;
            if (key.size() > kMaxKey) {
                logPrintf("#ERROR JSON name longer than %zu characters near %s\n", kMaxKey,
                          near().c_str());
                return false;
            }
            skipWs();
            if (!at(':')) return parseError();
            ++p_;
            skipWs();
            if (!member(owner, tail, key, top, depth)) return false;
            skipWs();
            if (at(',')) {
                ++p_;
                continue;
            }
            if (at('}')) {
                ++p_;
                return true;
            }
            return parseError();
        }
    }

    bool member(xmlNode* owner, xmlNode*& tail, const std::string& key, bool top, int depth) {
        if (at('{')) {
            if (depth >= kXmlMaxDepth) return tooDeep();
            ++p_;
            xmlNode* n = xmlAppendChild(r_, owner, tail, key.c_str(), nullptr, 0);
            n->bgnObject = 1;
            xmlNode* sub = nullptr;
            return object(n, sub, false, depth + 1);
        }
        if (at('[')) {
            if (depth >= kXmlMaxDepth) return tooDeep();
            ++p_;
            return array(owner, tail, key, depth + 1);
        }
        std::string text;
        bool isNull;
        if (!scalar(text, isNull)) return false;
        // Inside an object "@name" is an attribute and "#text" the text.
        if (!top && key.size() > 1 && key[0] == '@') {
            xmlAppendAttr(r_, owner, key.c_str() + 1, text.data(), text.size());
        } else if (!top && key == "#text") {
            owner->setValue(isNull ? nullptr : text.data(), text.size());
        } else {
            xmlAppendChild(r_, owner, tail, key.c_str(), isNull ? nullptr : text.data(),
                           text.size());
        }
        return true;
    }

    // Elements up to the closing ']' (the '[' has been read): a run of
    // nodes tagged key.
    bool array(xmlNode* owner, xmlNode*& tail, const std::string& key, int depth) {
        std::vector<xmlNode*> run;
        skipWs();
        if (at(']')) {
            ++p_;
            xmlNode* n = xmlAppendChild(r_, owner, tail, key.c_str(), nullptr, 0);
            n->bgnArray = n->endArray = n->isNotused = 1;
            return true;
        }
        bool ok = true;
        while (ok) {
            skipWs();
            if (at('{')) {
                if (depth >= kXmlMaxDepth) {
                    ok = tooDeep();
                    break;
                }
                ++p_;
                xmlNode* n = xmlAppendChild(r_, owner, tail, key.c_str(), nullptr, 0);
                n->bgnObject = 1;
                run.push_back(n);
                xmlNode* sub = nullptr;
                ok = object(n, sub, false, depth + 1);
            } else if (at('[')) {
                logPrintf("#ERROR JSON array inside an array near %s\n", near().c_str());
                ok = false;
            } else {
                std::string text;
                bool isNull;
                ok = scalar(text, isNull);
                if (ok)
                    run.push_back(xmlAppendChild(r_, owner, tail, key.c_str(),
                                                 isNull ? nullptr : text.data(), text.size()));
            }
            if (!ok) break;
            skipWs();
            if (at(',')) {
                ++p_;
                continue;
            }
            if (at(']')) {
                ++p_;
                break;
            }
            ok = parseError();
        }
        xmlMarkRun(run);
        return ok;
    }
};

// ---------------------------------------------------------------- writer --

class JsonWriter {
public:
    JsonWriter(const xmlRoot* r, XmlSink& out) : out_(out), eol_(r->useCrLf ? "\r\n" : "\n") {}

    void document(const xmlNode* top) {
        out_.put('{');
        Members m{false};
        members(m, top->sub, 1);
        members(m, top->next, 1);  // keys read in GET mode follow the root node
        close(m, 0, '}');
        out_.put(eol_);
    }

private:
    XmlSink& out_;
    const char* eol_;
    std::string work_;

    struct Members {
        bool any;
    };

    void indent(int depth) {
        for (int i = 0; i < depth; ++i) out_.put(' ');
    }
    void str(const char* text, long len) {
        out_.put('"');
        JsonStrCpy(work_, text ? text : "", text ? len : 0);
        out_.put(work_);
        out_.put('"');
    }
    void name(Members& m, int depth, const char* prefix, const char* tag) {
        out_.put(m.any ? "," : "");
        out_.put(eol_);
        m.any = true;
        indent(depth);
        std::string t = std::string(prefix) + (tag ? tag : "");
        if (!out_.fits(t.size(), __FILE__, __LINE__)) return;
        JsonStrCpy(work_, t.c_str(), static_cast<long>(t.size()));
        out_.put('"');
        out_.put(work_);
        out_.put("\": ");
    }
    void close(const Members& m, int depth, char bracket) {
        if (m.any) {
            out_.put(eol_);
            indent(depth);
        }
        out_.put(bracket);
    }

    static bool isObject(const xmlNode* n) {
        return n->sub || n->attr || (n->bgnObject && !n->value);
    }
    static bool continuesRun(const xmlNode* first, const xmlNode* prev, const xmlNode* n) {
        return n && !prev->endArray && (n->midArray || n->endArray) &&
               xmlSameTag(n->tag, first->tag);
    }

    void value(const xmlNode* n, int depth) {
        if (!isObject(n)) {
            str(n->value, n->vallen);
            return;
        }
        out_.put('{');
        Members m{false};
        for (const xmlNode* a = n->attr; a; a = a->next) {
            name(m, depth + 1, "@", a->tag);
            str(a->value, a->vallen);
        }
        if (n->value && n->vallen > 0) {
            name(m, depth + 1, "#text", "");
            str(n->value, n->vallen);
        }
        members(m, n->sub, depth + 1);
        close(m, depth, '}');
    }

    void members(Members& m, const xmlNode* n, int depth) {
        while (n) {
            name(m, depth, "", n->tag);
            if (!n->bgnArray) {
                value(n, depth);
                n = n->next;
                continue;
            }
            out_.put('[');
            Members a{false};
            const xmlNode* first = n;
            const bool empty = n->isNotused && n->endArray && !n->value && !isObject(n);
            const xmlNode* prev = nullptr;
            for (const xmlNode* e = n; e && (e == first || continuesRun(first, prev, e));
                 prev = e, e = e->next) {
                if (!empty) {
                    out_.put(a.any ? "," : "");
                    out_.put(eol_);
                    a.any = true;
                    indent(depth + 1);
                    value(e, depth + 1);
                }
                n = e->next;
            }
            close(a, depth, ']');
        }
    }
};

}  // namespace

size_t JsonStrCpy(std::string& out, const char* in, long length) {
    out.clear();
    if (!in) return 0;
    const size_t n = length < 0 ? std::strlen(in) : static_cast<size_t>(length);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        switch (c) {
        case '"': out += "\\\""; continue;
        case '\\': out += "\\\\"; continue;
        case '\b': out += "\\b"; continue;
        case '\t': out += "\\t"; continue;
        case '\n': out += "\\n"; continue;
        case '\f': out += "\\f"; continue;
        case '\r': out += "\\r"; continue;
        default: break;
        }
        if (c < 0x20 || c >= 0x7F) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out.size();
}

int JsonParse(XmlRef ref, FILE* fd, const char* buf, size_t buflen) {
    if (!ref.root) return -1;
    std::string text;
    if (fd) {
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, fd)) > 0) text.append(chunk, n);
    } else if (buf) {
        text.assign(buf, buflen);
    }
    ref.root->isJson = 1;
    JsonReader reader(ref.root, text);
    return reader.document() ? 0 : -1;
}

int JsonWrite(XmlRef ref, FILE* fd, char* buf, size_t buflen) {
    XmlSink out(fd, buf, buflen);
    if (!ref.root || !ref.root->root) return out.finish();
    const xmlNode* top = ref.root->root;
    if (xmlDeeperThan(top, kXmlMaxDepth)) {
        logPrintf("#JSON write: members nested deeper than %d levels\n", kXmlMaxDepth);
        out.fail();
        return out.finish();
    }
    JsonWriter w(ref.root, out);
    w.document(top);
    return out.finish();
}
