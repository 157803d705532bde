// Output-side settings of the toolkit: session-id variable name, server
// root and its path helpers, saved header and screen data of the next
// page, transaction tables, replacement names, and the escaping of Data
// values (see xfcgiout.h).
#include "xfcgiout.h"

#include <cstring>

namespace {

constexpr size_t sidNameMax = 31;   // the name is kept in 32 characters
constexpr size_t dirMax = 256;      // secure and image directories

std::string sidName = "SID";
std::string serverRoot = "/usr/local/qoric/";
std::string secureDir;
std::string imageDir;
std::string binaryName;

std::string savedHdr;
bool hasSavedHdr = false;
std::string savedMcs;
bool hasSavedMcs = false;

const std::vector<XFcgiTranEntry> *localTranTab = nullptr;
const std::vector<XFcgiTranEntry> *remoteTranTab = nullptr;

std::deque<std::pair<std::string, std::string>> replaceNames;

void saveCopy(std::string &copy, bool &has, const char *data, int length)
{
    copy.clear();
    has = data != nullptr && length >= 1;
    if (has)
        copy.assign(data, static_cast<size_t>(length));
}

bool takeCopy(std::string &copy, bool &has, std::string &out)
{
    if (!has)
        return false;
    out = std::move(copy);
    copy.clear();
    has = false;
    return true;
}

std::string boundedCopy(const char *path, size_t max)
{
    if (path == nullptr)
        return {};
    return std::string(path, strnlen(path, max));
}

} // namespace

void xFcgiSaveHdrData(const char *data, int length)
{
    saveCopy(savedHdr, hasSavedHdr, data, length);
}

void xFcgiSaveMcsData(const char *data, int length)
{
    saveCopy(savedMcs, hasSavedMcs, data, length);
}

bool xFcgiTakeHdrData(std::string &out)
{
    return takeCopy(savedHdr, hasSavedHdr, out);
}

bool xFcgiTakeMcsData(std::string &out)
{
    return takeCopy(savedMcs, hasSavedMcs, out);
}

const char *xFcgiSidName(const char *name)
{
    if (name != nullptr)
        sidName.assign(name, strnlen(name, sidNameMax));
    return sidName.c_str();
}

void xFcgiSetTranTab(const std::vector<XFcgiTranEntry> *local,
                     const std::vector<XFcgiTranEntry> *remote)
{
    localTranTab = local;
    remoteTranTab = remote;
}

const std::vector<XFcgiTranEntry> *xFcgiLocalTranTab()
{
    return localTranTab;
}

const std::vector<XFcgiTranEntry> *xFcgiRemoteTranTab()
{
    return remoteTranTab;
}

const char *xFcgiServerRoot(const char *path)
{
    if (path != nullptr) {
        serverRoot = path;
        if (serverRoot.empty() || serverRoot.back() != '/')
            serverRoot += '/';
    }
    return serverRoot.c_str();
}

std::string xFcgiAbsDir(const char *relative)
{
    std::string joined = serverRoot + (relative ? relative : "");
    std::string out;
    out.reserve(joined.size());
    for (char c : joined) {
        if (c == '/' && !out.empty() && out.back() == '/')
            continue;
        out += c;
    }
    return out;
}

const char *xFcgiRelDir(const char *path)
{
    if (path == nullptr)
        return nullptr;
    if (std::strncmp(path, serverRoot.c_str(), serverRoot.size()) != 0)
        return path;
    const char *rest = path + serverRoot.size();
    if (std::strncmp(rest, "htx/", 4) == 0)
        rest += 4;
    return rest;
}

void xFcgiSetSecureDir(const char *path)
{
    secureDir = boundedCopy(path, dirMax);
}

void xFcgiSetImageDir(const char *path)
{
    imageDir = boundedCopy(path, dirMax);
}

const char *xFcgiSecureDir()
{
    return secureDir.c_str();
}

const char *xFcgiImageDir()
{
    return imageDir.c_str();
}

void saveBinaryName(const char *path)
{
    binaryName = path ? path : "";
}

const char *xFcgiBinaryName()
{
    return binaryName.c_str();
}

void xFcgiReplaceName(const char *from, const char *to)
{
    replaceNames.emplace_front(from ? from : "", to ? to : "");
}

const std::deque<std::pair<std::string, std::string>> &xFcgiReplaceNames()
{
    return replaceNames;
}

void xFcgiEscapeData(std::string_view value, std::string &out)
{
    // Runs of ordinary characters are appended whole.
    size_t from = 0;
    for (size_t i = 0; i < value.size(); ++i) {
        const char *entity;
        switch (value[i]) {
        case '&': entity = "&amp;"; break;
        case '<': entity = "&lt;"; break;
        case '>': entity = "&gt;"; break;
        case '"': entity = "&quot;"; break;
        case '\'': entity = "&#39;"; break;
        default:  continue;
        }
        out.append(value.data() + from, i - from);
        out.append(entity);
        from = i + 1;
    }
    out.append(value.data() + from, value.size() - from);
}

void xFcgiEscapeScriptString(std::string_view value, std::string &out)
{
    static const char hex[] = "0123456789ABCDEF";
    for (char c : value) {
        const unsigned char u = static_cast<unsigned char>(c);
        // Letters, digits and a few harmless marks stay; bytes from 0x80 on
        // stay too, so that text in the page's character set reads as it
        // does elsewhere on the page (none of them can end a string, a
        // line or the SCRIPT element).
        const bool safe = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                          (u >= '0' && u <= '9') || u >= 0x80 || std::strchr(" _.,:-", c) != nullptr;
        if (safe && u != 0) {
            out += c;
            continue;
        }
        out += "\\x";
        out += hex[u >> 4];
        out += hex[u & 0xF];
    }
}

void xFcgiEscapeUrl(std::string_view value, std::string &out)
{
    static const char hex[] = "0123456789ABCDEF";
    for (char c : value) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')) {
            out += c;
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 0xF];
        }
    }
}
