// CDataRecord: building the item tree from pictures and groups, and
// reading and writing values by name.
#include "DataRecord.h"

#include <string>

#include "DataRecordPicture.h"
#include "ZelBuffer.h"
#include "logprint.h"
#include "to_lower.h"

namespace {

std::string Lower(std::string s) {
    to_lower(&s[0], static_cast<int>(s.size()));
    return s;
}

void LogRejected(const char *what, const char *name, const char *detail) {
    if (logCtrlFlgs & LOG_ERRORS)
        logPrintf("#DataRecord: %s %s rejected: %s\n", what, name ? name : "(null)", detail);
}

}  // namespace

CDataRecord::CDataRecord() = default;
CDataRecord::~CDataRecord() = default;

void CDataRecord::Empty() {
    m_openGroups.clear();
    m_mapItems.clear();
    m_pRoot = m_pLast = nullptr;
    m_items.clear();
    m_nSize = 0;
}

void CDataRecord::InitializeRecord() {
    Empty();
    AddItem("mcs.name", "X(8)");
    AddItem("mcs.terminal", "X(4)");
    AddItem("mcs.function", "X");
    AddItem("mcs.hold", "X");
    AddItem("mcs.size", 2);
    AddItem("mcs.status", "X");
    AddItem("mcs.filler", "X");
    AddItem("mcs.count", 2);
}

unsigned CDataRecord::GetGroupOffset() const {
    return m_openGroups.empty() ? m_nSize : m_nSize - m_openGroups.back().start;
}

int CDataRecord::AddItem(const char *name, const char *picture, const char *defaultValue) {
    DataPicture pic;
    if (!name || !ParseDataPicture(picture, pic)) {
        LogRejected("item", name, picture ? picture : "no picture");
        return 0;
    }
    if (static_cast<uint64_t>(m_nSize) + pic.length > kMaxRecordSize) {
        LogRejected("item", name, "record too large");
        return 0;
    }

    const std::string lower = Lower(name);
    const unsigned offset = GetGroupOffset();
    std::unique_ptr<CDataItem> item;
    switch (pic.type) {
    case CDataItem::TypeAny:
        item = std::make_unique<CAnyItem>(lower, offset, pic.length);
        break;
    case CDataItem::TypeUpper:
        item = std::make_unique<CUpperItem>(lower, offset, pic.length);
        break;
    case CDataItem::TypeAlpha:
        item = std::make_unique<CAlphaItem>(lower, offset, pic.length);
        break;
    case CDataItem::TypeNumeric:
        item = std::make_unique<CNumericItem>(lower, offset, pic.length);
        break;
    case CDataItem::TypeEdited:
        item = std::make_unique<CEditedItem>(lower, offset, pic.length, pic.sign, pic.currency,
                                             pic.mask);
        break;
    default:
        LOG_ASSERT(!"picture type");
        return 0;
    }
    item->SetDefault(defaultValue);
    m_nSize += pic.length;
    return AddItem(std::move(item));
}

int CDataRecord::AddItem(const char *name, int size) {
    if (!name || size < 1 || static_cast<uint64_t>(m_nSize) + size > kMaxRecordSize) {
        LOG_ASSERT(size >= 1);
        LogRejected("binary item", name, "bad size");
        return 0;
    }
    auto item = std::make_unique<CBinaryItem>(Lower(name), GetGroupOffset(),
                                              static_cast<unsigned>(size));
    m_nSize += static_cast<unsigned>(size);
    return AddItem(std::move(item));
}

int CDataRecord::AddItem(std::unique_ptr<CDataItem> item) {
    CDataItem *p = item.get();
    if (!m_pRoot) {
        m_pRoot = p;
    } else if (!m_pLast) {
        return 0;
    } else if (!m_openGroups.empty() && m_pLast == m_openGroups.back().group && !m_pLast->m_pChild) {
        // The first member of the group that was just opened.
        m_pLast->m_pChild = p;
        p->m_pParent = m_pLast;
    } else {
        m_pLast->m_pNext = p;
        p->m_pParent = m_pLast->m_pParent;
    }
    m_mapItems.emplace(p->GetName(), p);
    m_items.push_back(std::move(item));
    m_pLast = p;
    return 1;
}

int CDataRecord::BeginGroup(const char *name, int occurs) {
    if (!name || occurs < 1) {
        LogRejected("group", name, "occurs below 1");
        return 0;
    }
    auto group = std::make_unique<CGroupItem>(Lower(name), GetGroupOffset(),
                                              static_cast<unsigned>(occurs));
    CGroupItem *g = group.get();
    const unsigned start = m_nSize;
    if (!AddItem(std::move(group))) return 0;
    m_openGroups.push_back({g, start});
    return 1;
}

int CDataRecord::EndGroup() {
    if (m_openGroups.empty()) return 0;
    const OpenGroup open = m_openGroups.back();
    m_openGroups.pop_back();
    CGroupItem *g = open.group;

    const unsigned length = m_nSize - open.start;      // one occurrence
    g->m_nLength = length;
    unsigned occurs = g->GetMaxOccurence();
    if (length > 0 &&
        static_cast<uint64_t>(length) * (occurs - 1) + m_nSize > kMaxRecordSize) {
        occurs = 1 + (kMaxRecordSize - m_nSize) / length;
        if (logCtrlFlgs & LOG_ERRORS)
            logPrintf("#DataRecord: group %s cut to %u occurrences\n", g->GetName().c_str(), occurs);
        g->SetMaxOccurence(occurs);
    }
    m_nSize += length * (occurs - 1);
    m_pLast = g;
    return 1;
}

CDataItem *CDataRecord::FindItem(std::string name, int type) const {
    const auto it = m_mapItems.find(Lower(std::move(name)));
    if (it == m_mapItems.end()) return nullptr;
    if (type && !it->second->IsTypeOf(type)) return nullptr;
    return it->second;
}

CGroupItem *CDataRecord::FindGroup(std::string name) const {
    return static_cast<CGroupItem *>(FindItem(std::move(name), CDataItem::TypeGroup));
}

void CDataRecord::SetValue(CBuffer *buffer, const std::string &name, const std::string &value) {
    CDataItem *item = FindItem(name);
    if (!item) throw CZelDataException(CZelDataException::ItemNotFound, name);
    if (!buffer) {
        LOG_ASSERT(buffer);
        return;
    }
    item->SetValue(*buffer, value);
}

void CDataRecord::SetValue(CBuffer *buffer, const std::string &name, unsigned value) {
    CDataItem *item = FindItem(name);
    if (!item) throw CZelDataException(CZelDataException::ItemNotFound, name);
    if (!buffer) {
        LOG_ASSERT(buffer);
        return;
    }
    item->SetValue(*buffer, value);
}

void CDataRecord::SetValue(CBuffer *buffer, const char *name, unsigned value) {
    SetValue(buffer, std::string(name ? name : ""), value);
}

void CDataRecord::GetStringValue(std::string &out, const CBuffer *buffer, const std::string &name,
                                 int trim, int *isText) const {
    if (const CDataItem *item = FindItem(name)) {
        if (isText) *isText = item->IsTypeOf(CDataItem::TypeNumeric) ? 0 : 1;
        const bool inside =
            buffer && item->CalculateTotalOffset() < static_cast<uint64_t>(buffer->GetLength());
        if (inside)
            item->GetData(out, *buffer);
        else
            item->GetDefault(out);
        if (trim) {
            const size_t last = out.find_last_not_of(' ');
            out.erase(last == std::string::npos ? 0 : last + 1);
        }
        return;
    }

    // "group.index", "group.max", "group.count". The word never holds a
    // dot, so the split at the last one also finds groups with dotted names.
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) {
        if (const CGroupItem *group = FindGroup(name.substr(0, dot))) {
            const std::string word = Lower(name.substr(dot + 1));
            bool known = true;
            unsigned n = 0;
            if (word == "index")
                n = group->GetIndex();
            else if (word == "max")
                n = group->GetMaxOccurence();
            else if (word == "count")
                n = group->GetCount(buffer);
            else
                known = false;
            if (known) {
                if (isText) *isText = 0;
                out = std::to_string(n);
                return;
            }
        }
    }
    throw CZelDataException(CZelDataException::ItemNotFound, name);
}

int CDataRecord::SetGroupIndex(unsigned index, std::string group) {
    CGroupItem *g = FindGroup(group);
    if (!g) {
        if (logCtrlFlgs & LOG_ERRORS) logPrintf("#DataRecord: no group %s\n", group.c_str());
        return 0;
    }
    return g->SetIndex(index) ? 1 : 0;
}

unsigned CDataRecord::GetGroupIndex(std::string group) const {
    const CGroupItem *g = FindGroup(std::move(group));
    return g ? g->GetIndex() : 0;
}
