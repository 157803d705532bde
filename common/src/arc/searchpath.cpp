// Executable search along a ':'-separated path list, with a small cache.
#include "searchpath.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// The result is limited as the path buffers of the callers are.
constexpr size_t kMaxResult = 255;      // characters of a returned path
constexpr size_t kMaxName = 252;        // "./" or an element and '/' must fit too
constexpr size_t kMaxCacheName = 30;
constexpr size_t kMaxCachePath = 88;
constexpr size_t kMaxExtension = 23;
constexpr int kCacheSize = 5;

struct CacheEntry {
    std::string name;
    std::string path;
};

struct SearchState {
    std::string result;
    CacheEntry cache[kCacheSize];
    bool cacheOn = false;
    mode_t ownerBits = 0500, groupBits = 0050, otherBits = 0001;
    bool sticky = false;
    std::string foundExt;
};

SearchState &state()
{
    static SearchState s;
    return s;
}

bool endsWith(const std::string &s, const char *tail)
{
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// Whether path is an acceptable find: COBOL modules (".int", ".gnt") only
// have to exist, anything else must be executable for the caller.
bool acceptable(const std::string &path, const std::string &name, struct stat &st)
{
    if (stat(path.c_str(), &st) != 0)
        return false;
    if (name.size() > 4 && (endsWith(name, ".int") || endsWith(name, ".gnt")))
        return true;
    return IsExecutable(st) == 0;
}

const char *found(const std::string &name, const std::string &path, const struct stat &st)
{
    SearchState &s = state();
    s.sticky = (st.st_mode & S_ISVTX) != 0;
    s.result = path;
    if (s.cacheOn && name.size() <= kMaxCacheName && path.size() <= kMaxCachePath) {
        for (int i = kCacheSize - 1; i > 0; --i)
            s.cache[i] = s.cache[i - 1];
        s.cache[0] = CacheEntry{name, path};
    }
    return s.result.c_str();
}

} // namespace

const char *searchPath(const char *name, const char *list)
{
    SearchState &s = state();
    if (!name) {
        for (CacheEntry &e : s.cache)
            e = CacheEntry{};
        s.cacheOn = true;
        return nullptr;
    }
    const std::string bare(name);
    if (bare.empty())
        return nullptr;
    struct stat st {};
    if (bare[0] == '.' || bare[0] == '/') {
        if (bare.size() > kMaxResult || stat(name, &st) != 0 || S_ISDIR(st.st_mode))
            return nullptr;
        s.sticky = (st.st_mode & S_ISVTX) != 0;
        s.result = bare;
        return s.result.c_str();
    }
    if (bare.size() > kMaxName)
        return nullptr;
    if (s.cacheOn)
        for (const CacheEntry &e : s.cache)
            if (!e.name.empty() && e.name == bare) {
                s.result = e.path;
                return s.result.c_str();
            }

    std::string path = "./" + bare;
    if (acceptable(path, bare, st))
        return found(bare, path, st);

    if (!list)
        list = std::getenv("QORPATH");
    if (!list)
        list = std::getenv("PATH");
    if (!list)
        return nullptr;
    const size_t maxElement = kMaxName - bare.size();
    for (const char *p = list;; ++p) {
        const char *end = std::strchr(p, ':');
        const size_t len = end ? static_cast<size_t>(end - p) : std::strlen(p);
        if (len <= maxElement) {
            path.assign(p, len);
            path += '/';
            path += bare;
            if (acceptable(path, bare, st))
                return found(bare, path, st);
        }
        if (!end)
            break;
        p = end;
    }
    return nullptr;
}

const char *searchPathExt(const char *name, const char *list, const char *extensions,
                          const char **foundExt)
{
    SearchState &s = state();
    if (!name)
        return searchPath(name, list);
    const char *exts = extensions ? extensions : "";
    for (const char *p = exts;; ++p) {
        const char *end = std::strchr(p, ':');
        const size_t len = end ? static_cast<size_t>(end - p) : std::strlen(p);
        if (len <= kMaxExtension) {
            std::string candidate(name);
            if (len) {
                candidate += '.';
                candidate.append(p, len);
            }
            if (const char *path = searchPath(candidate.c_str(), list)) {
                s.foundExt.assign(p, len);
                if (foundExt)
                    *foundExt = s.foundExt.c_str();
                return path;
            }
        }
        if (!end)
            break;
        p = end;
    }
    return nullptr;
}

void setExecRequired(bool required)
{
    SearchState &s = state();
    if (required) {
        s.ownerBits = 0500;
        s.groupBits = 0050;
        s.otherBits = 0001;
    } else {
        s.ownerBits = 0400;
        s.groupBits = 0040;
        s.otherBits = 0004;
    }
}

int IsExecutable(const struct stat &st)
{
    const SearchState &s = state();
    if (!S_ISREG(st.st_mode))
        return -1;
    mode_t need = s.otherBits;
    if (st.st_uid == geteuid() || st.st_uid == getuid()) {
        need = s.ownerBits;
    } else {
        bool inGroup = st.st_gid == getegid() || st.st_gid == getgid();
        gid_t groups[32];
        const int n = inGroup ? 0 : getgroups(32, groups);
        for (int i = 0; i < n && !inGroup; ++i)
            inGroup = groups[i] == st.st_gid;
        if (inGroup)
            need = s.groupBits;
    }
    return (st.st_mode & need) == need ? 0 : -1;
}

bool searchPathSticky() { return state().sticky; }
