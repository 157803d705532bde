// The library's own environment table. It replaces the C library's putenv
// and unsetenv so that every part of a program edits one table, grown in
// steps of a few slots, whose entries are the callers' own strings.
#include "qorutenv.h"

#include <cerrno>
#include <clocale>
#include <cstring>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr size_t kGrowSlots = 9;   // spare slots added at each growth
constexpr size_t kMinFree = 2;     // an append needs its slot and the terminating null
constexpr size_t kMaxUserName = 15;

char **s_table = nullptr;  // our allocation, while it is the environment
size_t s_slots = 0;        // entry slots in s_table, not counting the terminating null

size_t countEnviron()
{
    size_t n = 0;
    while (environ && environ[n])
        ++n;
    return n;
}

// Length of the name part of an entry or of a lookup key.
size_t nameLength(const char *s)
{
    const char *eq = std::strchr(s, '=');
    return eq ? static_cast<size_t>(eq - s) : std::strlen(s);
}

std::string &userName()
{
    static std::string name;
    return name;
}

} // namespace

int lookenviron(const char *name)
{
    const size_t len = nameLength(name);
    for (size_t i = 0; environ && environ[i]; ++i)
        if (nameLength(environ[i]) == len && std::strncmp(environ[i], name, len) == 0)
            return static_cast<int>(i);
    errno = ENOENT;
    return -1;
}

int checkenviron()
{
    if (s_table && environ != s_table) {
        // Someone installed another array (it holds copies of our pointers).
        std::free(s_table);
        s_table = nullptr;
        s_slots = 0;
    }
    const size_t n = countEnviron();
    if (s_table && s_slots >= n + kMinFree)
        return 0;
    const size_t slots = n + kGrowSlots;
    char **table;
    if (s_table) {
        table = static_cast<char **>(std::realloc(s_table, (slots + 1) * sizeof(char *)));
        if (!table)
            return -1;
        for (size_t i = n; i <= slots; ++i)
            table[i] = nullptr;
    } else {
        table = static_cast<char **>(std::calloc(slots + 1, sizeof(char *)));
        if (!table)
            return -1;
        for (size_t i = 0; i < n; ++i)
            table[i] = environ[i];
    }
    s_table = table;
    s_slots = slots;
    environ = s_table;
    return 0;
}

extern "C" int putenv(char *string) noexcept
{
    if (!std::strchr(string, '='))
        return unsetenv(string);
    if (checkenviron() != 0) {
        errno = ENOMEM;
        return -1;
    }
    const int i = lookenviron(string);
    if (i >= 0) {
        environ[i] = string;
    } else {
        const size_t n = countEnviron();
        environ[n] = string;
        environ[n + 1] = nullptr;
    }
    return 0;
}

extern "C" int unsetenv(const char *name) noexcept
{
    if (checkenviron() != 0) {
        errno = ENOMEM;
        return -1;
    }
    int i = lookenviron(name);
    if (i < 0)
        return -1;
    const int savedErrno = errno;
    do {
        // Close the gap; the terminating null moves down with the rest.
        for (size_t j = static_cast<size_t>(i); environ[j]; ++j)
            environ[j] = environ[j + 1];
        i = lookenviron(name);
    } while (i >= 0);
    errno = savedErrno;
    return 0;
}

const char *getUnixUser()
{
    const char *lang = std::getenv("LANG");
    std::setlocale(LC_ALL, lang ? lang : "C");
    if (const char *ctype = std::getenv("LC_CTYPE"))
        std::setlocale(LC_CTYPE, ctype);

    std::string &name = userName();
    name.clear();
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd pw {};
    struct passwd *result = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result)
        name.assign(result->pw_name, strnlen(result->pw_name, kMaxUserName));
    return name.c_str();
}

const char *qorixuser() { return userName().c_str(); }
