// Environment table: the configuration's Setenv strings, put into the
// process environment at every request together with the computed
// LOCALHTTP and LOCALHTTPS (see xfcgiout.h).
//
// putenv keeps the caller's pointer, so every string handed to it stays
// alive and unchanged while the environment refers to it: the saved slots
// are never emptied, and a new LOCALHTTP text replaces the old one only
// after the environment points at the new one.
#include "xfcgiout.h"

#include "logprint.h"

#include <unistd.h>

#include <array>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

std::array<std::string, xFcgiMaxEnvVars> envSlots;  // empty: free
std::unique_ptr<std::string> localHttp;
std::unique_ptr<std::string> localHttps;

bool savedDefines(const char *prefix)
{
    const size_t n = std::strlen(prefix);
    for (const std::string &s : envSlots)
        if (s.compare(0, n, prefix) == 0)
            return true;
    return false;
}

// A Host header is used only when it is a host name (or an address) with an
// optional port: anything else could smuggle text into links of pages.
bool plausibleHost(const char *h)
{
    if (h == nullptr || *h == '\0')
        return false;
    const size_t len = std::strlen(h);
    if (len > 260)
        return false;
    size_t i = 0;
    if (h[0] == '[') {  // IPv6 literal
        size_t close = 1;
        while (close < len && (std::isxdigit(static_cast<unsigned char>(h[close])) ||
                               h[close] == ':' || h[close] == '.'))
            ++close;
        if (close == 1 || close >= len || h[close] != ']')
            return false;
        i = close + 1;
    } else {
        while (i < len && (std::isalnum(static_cast<unsigned char>(h[i])) ||
                           h[i] == '-' || h[i] == '.'))
            ++i;
        if (i == 0 || h[0] == '-' || h[0] == '.')
            return false;
    }
    if (i == len)
        return true;
    if (h[i] != ':')
        return false;
    size_t digits = 0;
    for (++i; i < len; ++i, ++digits)
        if (!std::isdigit(static_cast<unsigned char>(h[i])))
            return false;
    return digits >= 1 && digits <= 5;
}

std::string hostForLinks()
{
    const char *h = std::getenv("HTTP_HOST");
    if (plausibleHost(h))
        return h;
    if (h != nullptr && *h != '\0')
        logPrintf("#Host header is no host name; the local host name is used\n");
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        name[0] = '\0';
    return name;
}

int serverPort()
{
    const char *p = std::getenv("SERVER_PORT");
    if (p == nullptr)
        return 80;
    char *end = nullptr;
    long v = std::strtol(p, &end, 10);
    if (v < 0 || v > 65535)
        return 0;
    return static_cast<int>(v);
}

// Puts text into the environment under `slot`, keeping the previous text
// alive until the environment no longer refers to it.
void putOwned(std::unique_ptr<std::string> &slot, std::string text)
{
    auto fresh = std::make_unique<std::string>(std::move(text));
    if (putenv(fresh->data()) == 0)
        slot = std::move(fresh);
    else
        logPrintf("#Can't put %.40s into the environment\n", fresh->c_str());
}

} // namespace

int xFcgiSaveEnvVar(const char *text)
{
    if (text == nullptr || *text == '\0')
        return 0;
    for (const std::string &s : envSlots)
        if (s == text)
            return 0;
    for (std::string &s : envSlots) {
        if (s.empty()) {
            s = text;
            return 1;
        }
    }
    logPrintf("#SetEnv table is full at %d\n", xFcgiMaxEnvVars);
    return -1;
}

void xFcgiSetEnvVars()
{
    for (std::string &s : envSlots)
        if (!s.empty())
            putenv(s.data());
    const bool needHttp = !savedDefines("LOCALHTTP=");
    const bool needHttps = !savedDefines("LOCALHTTPS=");
    if (!needHttp && !needHttps)
        return;
    const std::string host = hostForLinks();
    if (needHttp)
        putOwned(localHttp, "LOCALHTTP=http://" + host);
    if (needHttps)
        putOwned(localHttps, (serverPort() != 80 ? "LOCALHTTPS=https://" : "LOCALHTTPS=http://") + host);
}

const char *xFcgiGetEnvVars(int index)
{
    if (index < 0 || index >= xFcgiMaxEnvVars)
        return nullptr;
    const std::string &s = envSlots[static_cast<size_t>(index)];
    return s.empty() ? nullptr : s.c_str();
}
