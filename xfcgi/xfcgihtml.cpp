// Template lookup and the template cache (see xfcgihtml.h).
//
// Every template this process compiled stays in one list, newest or most
// recently confirmed first, so a worker compiles its few pages once. The
// text the records hold is bounded: past the limit the least recently
// confirmed records are freed, never one that a page is being written from.
#include "xfcgihtml.h"

#include <algorithm>
#include <cstdlib>
#include <list>
#include <memory>
#include <sys/stat.h>

#include "logprint.h"
#include "regularfile.h"

namespace {

std::string docRoot = " ";          // " ": unset
std::string tmplDir = "htmltmpl";
constexpr const char* kDefaultDocRoot = "/usr/local/apache/htdocs";

std::list<std::unique_ptr<tcpHTML>> cache;
long long sizeFtab = 0;
long long maxSizeFtab = 409600;

long long lastFileSize = 0;
int64_t lastFileTime = -1;

FILE* errorStream = nullptr;
FILE* dumpStream = nullptr;

bool rootIsSet() {
    return !docRoot.empty() && static_cast<unsigned char>(docRoot[0]) > ' ';
}

void fixupPath(std::string& p) {
    std::replace(p.begin(), p.end(), '\\', '/');
}

bool isExplicitPath(std::string_view name) {
    return !name.empty() && (name[0] == '.' || name[0] == '/');
}

std::string lastComponent(std::string_view name) {
    size_t slash = name.rfind('/');
    return std::string(slash == std::string_view::npos ? name : name.substr(slash + 1));
}

std::string joinPath(std::string a, std::string_view b) {
    if (!a.empty() && a.back() != '/') a += '/';
    a.append(b.data(), b.size());
    return a;
}

// Modification time of an existing file in nanoseconds, -1 when none.
int64_t fileTimeOf(const std::string& path, long long* size = nullptr) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return -1;
    if (size) *size = st.st_size;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

void freeRecord(std::list<std::unique_ptr<tcpHTML>>::iterator it) {
    sizeFtab -= static_cast<long long>((*it)->text.size());
    if (sizeFtab < 0) sizeFtab = 0;
    cache.erase(it);
}

// A cached record under path whose file still has its modification time
// (known, or -1: looked up) and whose field file is unchanged.
tcpHTML* findCurrent(const std::string& path, int64_t knownTime = -1) {
    for (auto& r : cache) {
        if (r->path != path) continue;
        if ((knownTime >= 0 ? knownTime : fileTimeOf(path)) == r->fileTime && xFcgiFieldFileCurrent(*r))
            return r.get();
    }
    return nullptr;
}

}  // namespace

TemplateInUse::TemplateInUse(tcpHTML* t) : m_t(t) {
    if (m_t) {
        ++m_t->inUse;
        m_t->flags |= tcpHTML::kInUse;
    }
}

TemplateInUse::~TemplateInUse() {
    if (m_t && --m_t->inUse <= 0) {
        m_t->inUse = 0;
        m_t->flags &= ~tcpHTML::kInUse;
    }
}

// ------------------------------------------------------------------ paths --

const char* xFcgiDocRoot(const char* root) {
    if (root && (root[0] == '.' || root[0] == '/')) {
        docRoot = root;
        tmplDir.clear();
    } else if (!rootIsSet()) {
        const char* env = std::getenv("DOCUMENT_ROOT");
        docRoot = env && *env ? env : kDefaultDocRoot;
    }
    fixupPath(docRoot);
    return docRoot.c_str();
}

void xFcgiDocRootReset() {
    docRoot = " ";
    tmplDir = "htmltmpl";
}

void xFcgiSetTemplateDir(const char* dir) {
    tmplDir = dir ? dir : "";
    fixupPath(tmplDir);
}

const char* xFcgiTemplateDir() {
    return tmplDir.c_str();
}

std::string xFcgiTemplatePath(std::string_view name) {
    if (isExplicitPath(name)) return std::string(name);
    std::string root = xFcgiDocRoot(nullptr);
    if (!tmplDir.empty()) root = joinPath(root, tmplDir);
    return joinPath(root, name);
}

FILE* xFcgiOpenTemplate(const std::string& name, const char* mode, std::string& found) {
    found = xFcgiTemplatePath(name);
    lastFileTime = fileTimeOf(found, &lastFileSize);
    if (lastFileTime < 0) {
        lastFileSize = 0;
        if (mode && mode[0] == 'r') {
            std::string alt = std::string(xFcgiFallbackDir) + lastComponent(name);
            long long size = 0;
            int64_t t = fileTimeOf(alt, &size);
            if (t >= 0) {
                lastFileTime = t;
                lastFileSize = size;
                logPrintf("#Default to %s\n", alt.c_str());
                found = alt;
            }
        }
    }
    if (mode && mode[0] != 'r') return std::fopen(found.c_str(), mode);
    std::string why;
    UniqueFile file = OpenRegularFile(found, &why);
    if (!file && lastFileTime >= 0) logPrintf("#Template %s not read: %s\n", found.c_str(), why.c_str());
    return file.release();
}

long long xFcgiLastFileSize() {
    return lastFileSize;
}

int64_t xFcgiLastFileTime() {
    return lastFileTime;
}

// ------------------------------------------------------------------ lookup --

tcpHTML* xFcgiGetFT(const char* name, int64_t fileTime) {
    if (name && isExplicitPath(name) && fileTime >= 0) {
        if (tcpHTML* t = findCurrent(name, fileTime)) return t;
        xFcgiTemplateOutdated(name);
    }
    return xFcgiGetFT(name);
}

tcpHTML* xFcgiGetFT(const char* name) {
    if (!name || !*name) return nullptr;
    const std::string a = xFcgiTemplatePath(name);
    const std::string b = std::string(xFcgiFallbackDir) + lastComponent(name);
    const std::string c = isExplicitPath(name) ? std::string(name) : "./" + std::string(name);
    for (const std::string* p : {&a, &b, &c})
        if (tcpHTML* t = findCurrent(*p)) return t;

    xFcgiLoadTemplate(name, errorStream, dumpStream, false);
    for (const std::string* p : {&a, &b, &c})
        if (tcpHTML* t = xFcgiCacheFind(*p)) return t;

    if (logCtrlFlgs & LOG_DETAIL) {
        logPrintf("Could not find %s or %s\n", name, a.c_str());
        for (const auto& r : cache) logPrintf("#Template: %s\n", r->path.c_str());
    }
    return nullptr;
}

void xFcgiLogFiles(FILE* errors, FILE* dump) {
    errorStream = errors;
    dumpStream = dump;
}

// ------------------------------------------------------------------- cache --

void xFcgiTemplateOutdated(const std::string& path) {
    // A file time no file has (-1 is a missing file's): the record is never
    // current again, and the next load compares its file at once.
    constexpr int64_t kNoFileTime = -2;
    for (auto& r : cache) {
        if (r->path != path) continue;
        r->fileTime = kNoFileTime;
        r->checkTime = 0;
    }
}

tcpHTML* xFcgiCacheFind(const std::string& path) {
    for (auto& r : cache)
        if (r->path == path) return r.get();
    return nullptr;
}

tcpHTML* xFcgiCacheAdd() {
    cache.push_front(std::make_unique<tcpHTML>());
    return cache.front().get();
}

void xFcgiCacheToHead(tcpHTML* t) {
    for (auto it = cache.begin(); it != cache.end(); ++it) {
        if (it->get() == t) {
            cache.splice(cache.begin(), cache, it);
            return;
        }
    }
}

void xFcgiCacheCharge(long long delta) {
    sizeFtab += delta;
    if (sizeFtab < 0) sizeFtab = 0;
}

void xFcgiCacheApplyLimit() {
    // Least recently confirmed first; the head (the record just loaded or
    // confirmed) stays, and so does every record a page is written from.
    size_t budget = cache.size() + 1;
    while (sizeFtab > maxSizeFtab && budget-- > 0 && cache.size() > 1) {
        auto victim = cache.end();
        for (auto it = std::prev(cache.end()); it != cache.begin(); --it) {
            if ((*it)->inUse <= 0) {
                victim = it;
                break;
            }
        }
        if (victim == cache.end()) break;
        freeRecord(victim);
    }
    if (maxSizeFtab < 32) {
        for (auto it = cache.begin(); it != cache.end();) {
            auto next = std::next(it);
            if ((*it)->inUse <= 0) freeRecord(it);
            it = next;
        }
    }
}

void xFcgiTemplateCache(int limit) {
    maxSizeFtab = limit;
    xFcgiCacheApplyLimit();
}

int xFcgiCacheBytes() {
    return static_cast<int>(std::min<long long>(sizeFtab, INT32_MAX));
}

int xFcgiCacheCount() {
    return static_cast<int>(cache.size());
}

std::vector<const tcpHTML*> xFcgiCacheList() {
    std::vector<const tcpHTML*> out;
    for (const auto& r : cache) out.push_back(r.get());
    return out;
}
