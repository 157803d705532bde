// Output files of a conversion and the function-key map.
#include "ArcTFDIntConnFilesInfo.h"

#include <strings.h>

#include <cstring>

const char g_TransmitName[] = "Transmit";
const char g_MsgWaitName[] = "MsgWait";

SafeString CArcTFDIntConnFilesInfo::GetT3IName() const {
    const size_t slash = m_strT3IPath.rfind('/');
    SafeString name = slash == std::string::npos ? std::string(m_strT3IPath) : m_strT3IPath.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return name;
}

SafeString CArcTFDIntConnFilesInfo::GetT3INameExt() const {
    const size_t separator = m_strT3IPath.find_last_of("/\\");
    if (separator == std::string::npos) return m_strT3IPath;
    return m_strT3IPath.substr(separator + 1);
}

int CArcTFDIntConnFilesInfo::GetFKeyIdxFromName(const char *name) {
    if (!name || !*name) return -1;
    if (strcasecmp(name, g_TransmitName) == 0) return -1;
    if (strcasecmp(name, g_MsgWaitName) == 0) return 0;
    // The decimal number from the second character, as far as it goes;
    // kept within int (key numbers are small).
    const char *p = name + 1;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        if (value < 100000000) value = value * 10 + (*p - '0');
    return static_cast<int>(negative ? -value : value);
}

SafeString CArcTFDIntConnFilesInfo::GetFKeyNameFromIdx(int index) {
    if (index == -1) return g_TransmitName;
    if (index == 0) return g_MsgWaitName;
    return "F" + std::to_string(index);
}

SafeString CArcTFDIntConnFilesInfo::GetFKeyStringForHTML(const SafeString &name) const {
    // The table is written inside the page's form, so a button reaches
    // the form as "this.form" whatever the form is named.
    const int index = GetFKeyIdxFromName(name.c_str());
    if (index == -1) return "this.form.submit()";
    return "DoFKEY(this.form, " + std::to_string(index) + ")";
}

const CArcTFDIntConnFilesInfo::FKey_t *CArcTFDIntConnFilesInfo::GetFKey(unsigned index) const {
    return index < m_FKeys.size() ? m_FKeys[index].get() : nullptr;
}

const CArcTFDIntConnFilesInfo::FKey_t *CArcTFDIntConnFilesInfo::GetFKey(const char *name) const {
    for (const auto &key : m_FKeys)
        if (name && key->name == name) return key.get();
    return nullptr;
}

bool CArcTFDIntConnFilesInfo::FKeyMapNextPos(FKeyMapPos_t &pos) const {
    if (pos < m_FKeys.size()) ++pos;
    return pos >= m_FKeys.size();
}

SafeString CArcTFDIntConnFilesInfo::GetNameFromPos(FKeyMapPos_t pos) const {
    return pos < m_FKeys.size() ? m_FKeys[pos]->name : SafeString();
}

SafeString CArcTFDIntConnFilesInfo::GetLabelFromPos(FKeyMapPos_t pos) const {
    return pos < m_FKeys.size() ? m_FKeys[pos]->label : SafeString();
}

SafeString CArcTFDIntConnFilesInfo::GetToolTipFromPos(FKeyMapPos_t pos) const {
    return pos < m_FKeys.size() ? m_FKeys[pos]->toolTip : SafeString();
}

CArcTFDIntConnFilesInfo::FKeyMap_t::iterator CArcTFDIntConnFilesInfo::Find(const char *name) {
    for (auto it = m_FKeys.begin(); it != m_FKeys.end(); ++it)
        if (name && (*it)->name == name) return it;
    return m_FKeys.end();
}

namespace {

std::unique_ptr<CArcTFDIntConnFilesInfo::FKey_t> Named(const SafeString &name,
                                                       const CArcTFDIntConnFilesInfo::FKey_t &key) {
    auto copy = std::make_unique<CArcTFDIntConnFilesInfo::FKey_t>(key);
    copy->name = name;
    return copy;
}

}  // namespace

void CArcTFDIntConnFilesInfo::AddFKey(const SafeString &name, const FKey_t &key) {
    auto it = Find(name.c_str());
    if (it != m_FKeys.end()) m_FKeys.erase(it);
    m_FKeys.push_back(Named(name, key));
}

void CArcTFDIntConnFilesInfo::AddNewFKey(const SafeString &name, const FKey_t &key) {
    if (Find(name.c_str()) == m_FKeys.end()) m_FKeys.push_back(Named(name, key));
}

void CArcTFDIntConnFilesInfo::InsertFKey(unsigned index, const SafeString &name, const FKey_t &key) {
    if (index >= m_FKeys.size())
        m_FKeys.push_back(Named(name, key));
    else
        m_FKeys.insert(m_FKeys.begin() + index, Named(name, key));
}

void CArcTFDIntConnFilesInfo::RemoveFKey(unsigned index) {
    if (index < m_FKeys.size()) m_FKeys.erase(m_FKeys.begin() + index);
}

void CArcTFDIntConnFilesInfo::RemoveFKey(const char *name) {
    auto it = Find(name);
    if (it != m_FKeys.end()) m_FKeys.erase(it);
}
