// COBOL records to documents and back, over a map (xmlbook.h).
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "logprint.h"
#include "xmlbook.h"
#include "xmlbookdata.h"
#include "xmlsink.h"
#include "xmlwrite.h"

namespace {

// The fields below each group, in map order: slot 0 the top level, slot
// i + 1 the children of field i.
std::vector<std::vector<size_t>> childrenOf(const XmlBook& m) {
    std::vector<std::vector<size_t>> out(m.fields.size() + 1);
    for (size_t i = 0; i < m.fields.size(); ++i)
        out[static_cast<size_t>(m.fields[i].ownerPos + 1)].push_back(i);
    return out;
}

// Offset of field i at the current occurrences of it and its groups.
size_t positionOf(const XmlBook& m, size_t i) {
    const XmlBookFld& d = m.fields[i];
    size_t pos = d.dataPos + (d.occurs > 1 ? static_cast<size_t>(d.occn) * d.size : 0);
    for (int o = d.ownerPos; o >= 0; o = m.fields[static_cast<size_t>(o)].ownerPos) {
        const XmlBookFld& g = m.fields[static_cast<size_t>(o)];
        if (g.occurs > 1) pos += static_cast<size_t>(g.occn) * g.size;
    }
    return pos;
}

bool ready(XmlBook* map, size_t length) {
    if (!map || (!map->prepared && !XmlBookPrep(map))) return false;
    if (length < map->reclen) {
        logPrintf("#Record of %zu bytes is shorter than the %u bytes map %s needs\n", length,
                  map->reclen, map->name.c_str());
        return false;
    }
    return true;
}

// ------------------------------------------------------ record to tree --

class RecordToTree {
public:
    RecordToTree(XmlBook& m, const unsigned char* rec, bool json, std::string_view fcc,
                 std::string_view crs, xmlRoot* r)
        : m_(m), rec_(rec), json_(json), fcc_(fcc), crs_(crs), r_(r), children_(childrenOf(m)) {}

    void build() {
        trace_ = (logCtrlFlgs & LOG_TRACE) != 0;
        if (trace_)
            logPrintf("#%-22s   Loc  Occ Len * %-36s Fcc Crs\n", m_.name.c_str(), "Value");
        xmlNode* tail = nullptr;
        for (size_t c : children_[0]) field(c, r_->root, tail);
    }

private:
    XmlBook& m_;
    const unsigned char* rec_;
    const bool json_;
    std::string_view fcc_, crs_;
    xmlRoot* r_;
    std::vector<std::vector<size_t>> children_;
    size_t item_ = 0;  // field occurrences written: index into fcc and crs
    bool trace_ = false;

    xmlNode* add(xmlNode* owner, xmlNode*& tail, const std::string& tag, const std::string* value) {
        return xmlAppendChild(r_, owner, tail, tag.c_str(), value ? value->data() : nullptr,
                              value ? value->size() : 0);
    }

    // Occurrences to write: the count field's value (within 0..occurs), or
    // all of them.
    unsigned used(const XmlBookFld& d) {
        if (d.occurs <= 1) return 1;
        if (d.countInPos == kXmlBookNoField) return d.occurs;
        const XmlBookFld& c = m_.fields[d.countInPos];
        std::string text;
        if (!xmlBookGetText(c, rec_ + positionOf(m_, d.countInPos), text)) {
            logPrintf("Field %d is count type %c(%d) unknown\n", static_cast<int>(d.countInPos),
                      c.type, c.size);
            return d.occurs;
        }
        long v = std::strtol(text.c_str(), nullptr, 10);
        return v < 0 ? 0u : v > d.occurs ? d.occurs : static_cast<unsigned>(v);
    }

    void children(size_t g, xmlNode* element) {
        xmlNode* tail = nullptr;
        for (size_t c : children_[g + 1]) field(c, element, tail);
    }

    void emptyArray(xmlNode* owner, xmlNode*& tail, const std::string& tag) {
        xmlNode* n = add(owner, tail, tag, nullptr);
        n->bgnArray = n->endArray = n->isNotused = 1;
    }

    void field(size_t i, xmlNode* element, xmlNode*& tail) {
        XmlBookFld& d = m_.fields[i];
        const unsigned count = used(d);
        if (d.type == 'G') {
            if (d.occurs <= 1) {
                d.occn = 0;
                xmlNode* e = add(element, tail, d.name, nullptr);
                e->bgnObject = 1;
                children(i, e);
                return;
            }
            xmlNode* holder = element;
            xmlNode* listTail = nullptr;
            xmlNode*& at = json_ ? tail : listTail;
            if (!json_) holder = add(element, tail, d.name + "_List", nullptr);
            std::vector<xmlNode*> run;
            for (unsigned k = 0; k < count; ++k) {
                d.occn = static_cast<uint16_t>(k);
                xmlNode* e = add(holder, at, d.name, nullptr);
                e->bgnObject = 1;
                run.push_back(e);
                children(i, e);
            }
            if (json_) {
                if (run.empty()) emptyArray(element, tail, d.name);
                xmlMarkRun(run);
            }
            return;
        }

        std::string text;
        if (!std::strchr("BDPXEN", d.type) || !d.type) {
            logPrintf("Not yet coded %s for type %c\n", d.name.c_str(), d.type);
            return;
        }
        std::vector<xmlNode*> run, attrs;
        bool anyControl = false;
        for (unsigned k = 0; k < count; ++k) {
            d.occn = static_cast<uint16_t>(k);
            const size_t pos = positionOf(m_, i);
            xmlBookGetText(d, rec_ + pos, text);
            const std::string fcc = 2 * item_ < fcc_.size() ? std::string(fcc_.substr(2 * item_, 2)) : "";
            const std::string crs = item_ < crs_.size() ? std::string(crs_.substr(item_, 1)) : "";
            ++item_;
            if (trace_)
                logPrintf("%-22s %5zu %4u %3u * %-36.36s %-3s %s\n", d.name.c_str(), pos, k,
                          d.size, text.c_str(), fcc.c_str(), crs.c_str());
            if (d.isAttr && !json_ && element != r_->root) {
                xmlAppendAttr(r_, element, d.name.c_str(), text.data(), text.size());
                continue;
            }
            xmlNode* n = add(element, tail, d.name, &text);
            run.push_back(n);
            if (fcc.empty() && crs.empty()) {
                attrs.push_back(nullptr);
                continue;
            }
            anyControl = true;
            if (!json_) {
                if (!fcc.empty()) xmlAppendAttr(r_, n, "fcc", fcc.data(), fcc.size());
                if (!crs.empty()) xmlAppendAttr(r_, n, "crs", crs.data(), crs.size());
                continue;
            }
            // JSON: an object of the two beside the value, linked below.
            xmlNode* pair = r_->newNode(r_->intern(d.name + "_attr"));
            pair->bgnObject = 1;
            xmlNode* pairTail = nullptr;
            if (!fcc.empty()) xmlAppendChild(r_, pair, pairTail, "fcc", fcc.data(), fcc.size());
            if (!crs.empty()) xmlAppendChild(r_, pair, pairTail, "crs", crs.data(), crs.size());
            attrs.push_back(pair);
        }
        if (!json_ || d.occurs <= 1) {
            if (json_ && anyControl) place(attrs, element, tail);
            return;
        }
        if (run.empty()) emptyArray(element, tail, d.name);
        xmlMarkRun(run);
        if (anyControl) {
            place(attrs, element, tail);
            std::vector<xmlNode*> placed;
            for (xmlNode* a : attrs)
                if (a) placed.push_back(a);
            xmlMarkRun(placed);
        }
    }

    // Links the "_attr" objects made for JSON after the values.
    void place(const std::vector<xmlNode*>& pairs, xmlNode* owner, xmlNode*& tail) {
        for (xmlNode* p : pairs) {
            if (!p) continue;
            p->owner = owner;
            if (tail) {
                tail->next = p;
                p->prev = tail;
            } else {
                owner->sub = p;
            }
            tail = p;
        }
    }
};

int fromCobol(bool json, XmlBook* map, XmlRef* ref, const char* record, size_t length,
              std::string_view fcc, std::string_view crs, char* buf, size_t buflen, FILE* fd) {
    if (!ref || !record || !ready(map, length)) return -1;
    if (!ref->root) *ref = XmlCreate();
    RecordToTree(*map, reinterpret_cast<const unsigned char*>(record), json, fcc, crs, ref->root)
        .build();
    if (!buf && !fd) return 0;
    return json ? JsonWrite(*ref, fd, buf, buflen) : XmlWrite(*ref, fd, buf, buflen);
}

// ------------------------------------------------------ tree to record --

class TreeToRecord {
public:
    TreeToRecord(XmlBook& m, unsigned char* rec) : m_(m), rec_(rec), children_(childrenOf(m)) {}

    bool fill(const xmlRoot* r) {
        group(-1, nullptr, r->root->sub);
        return ok_;
    }

private:
    XmlBook& m_;
    unsigned char* rec_;
    std::vector<std::vector<size_t>> children_;
    bool ok_ = true;

    struct Seen {
        unsigned count = 0;
        bool present = false;
    };

    void group(int g, const xmlNode* attrs, const xmlNode* first) {
        const std::vector<size_t>& kids = children_[static_cast<size_t>(g + 1)];
        std::vector<Seen> seen(kids.size());
        for (const xmlNode* a = attrs; a; a = a->next) match(a, kids, seen);
        for (const xmlNode* n = first; n; n = n->next) match(n, kids, seen);
        for (size_t j = 0; j < kids.size(); ++j) {
            const XmlBookFld& d = m_.fields[kids[j]];
            if (d.countInPos != kXmlBookNoField && seen[j].present) storeCount(d.countInPos, seen[j].count);
        }
    }

    void match(const xmlNode* n, const std::vector<size_t>& kids, std::vector<Seen>& seen) {
        if (!n->tag) return;
        for (size_t j = 0; j < kids.size(); ++j) {
            XmlBookFld& d = m_.fields[kids[j]];
            if (strcasecmp(n->tag, d.name.c_str()) == 0) {
                seen[j].present = true;
                if (n->isNotused && n->bgnArray && n->endArray) return;  // an empty JSON array
                const unsigned k = seen[j].count++;
                if (k >= d.occurs) {
                    logPrintf("#Node %s occurs more than %u times\n", n->tag, d.occurs);
                    ok_ = false;
                    return;
                }
                d.occn = static_cast<uint16_t>(k);
                if (d.type == 'G')
                    group(static_cast<int>(kids[j]), n->attr, n->sub);
                else
                    store(kids[j], n);
                return;
            }
            const size_t len = d.name.size();
            if (std::strlen(n->tag) == len + 5 && strncasecmp(n->tag, d.name.c_str(), len) == 0) {
                if (d.type == 'G' && d.occurs > 1 && strcasecmp(n->tag + len, "_List") == 0) {
                    seen[j].present = true;
                    for (const xmlNode* e = n->sub; e; e = e->next) match(e, kids, seen);
                    return;
                }
                if (strcasecmp(n->tag + len, "_attr") == 0) return;  // JSON field control
            }
        }
        if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Node %s is not in map %s\n", n->tag, m_.name.c_str());
    }

    void store(size_t i, const xmlNode* n) {
        const XmlBookFld& d = m_.fields[i];
        const std::string_view text = n->value ? std::string_view(n->value, n->vallen) : "";
        switch (xmlBookPutText(d, text, rec_ + positionOf(m_, i))) {
        case XmlBookPut::Ok: return;
        case XmlBookPut::Unknown:
            logPrintf("#Node %s has unknown type '%c'\n", n->tag, d.type);
            break;
        case XmlBookPut::Cut:
            logPrintf("#Node %s value cut to %u bytes\n", n->tag, d.size);
            break;
        case XmlBookPut::Lost:
            logPrintf("#Node %s value '%.40s' has more than %u decimal places\n", n->tag,
                      std::string(text).c_str(), d.npl);
            break;
        case XmlBookPut::Bad:
            logPrintf("#Node %s value '%.40s' does not fit %c(%u)\n", n->tag,
                      std::string(text).c_str(), d.type, d.size);
            break;
        }
        ok_ = false;
    }

    void storeCount(size_t c, unsigned count) {
        const XmlBookFld& d = m_.fields[c];
        const XmlBookPut r = xmlBookPutText(d, std::to_string(count), rec_ + positionOf(m_, c));
        if (r == XmlBookPut::Ok) return;
        if (r == XmlBookPut::Unknown)
            logPrintf("Field %d is count type %c(%d) unknown\n", static_cast<int>(c), d.type, d.size);
        else
            logPrintf("#Count %u does not fit field %s\n", count, d.name.c_str());
        ok_ = false;
    }
};

}  // namespace

bool XmlToCobol(XmlRef ref, XmlBook* map, char* record, size_t length) {
    if (!ref.root || !ref.root->root || !record || !ready(map, length)) return false;
    // The walk below recurses per level ("<name>_List" in "<name>_List"
    // included), so a document's depth must be bounded before it starts.
    if (xmlDeeperThan(ref.root->root, kXmlMaxDepth)) {
        logPrintf("#Document for map %s nested deeper than %d levels\n", map->name.c_str(),
                  kXmlMaxDepth);
        return false;
    }
    return TreeToRecord(*map, reinterpret_cast<unsigned char*>(record)).fill(ref.root);
}

int XmlFromCobol(XmlBook* map, XmlRef* ref, const char* record, size_t length,
                 std::string_view fcc, std::string_view crs, char* buf, size_t buflen, FILE* fd) {
    return fromCobol(false, map, ref, record, length, fcc, crs, buf, buflen, fd);
}

int JsonFromCobol(XmlBook* map, XmlRef* ref, const char* record, size_t length,
                  std::string_view fcc, std::string_view crs, char* buf, size_t buflen, FILE* fd) {
    return fromCobol(true, map, ref, record, length, fcc, crs, buf, buflen, fd);
}
