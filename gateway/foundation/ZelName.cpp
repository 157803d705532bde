// CZelName and CTime: fixed-size blank-padded names and time texts.
#include "ZelName.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "ZelBuffer.h"

namespace {

// A string compared with a name: at most n chars, up to its NUL, without
// trailing blanks.
std::string_view Trimmed(const char *s, size_t n) {
    if (!s) return {};
    size_t len = strnlen(s, n);
    while (len > 0 && s[len - 1] == ' ') --len;
    return {s, len};
}

// A name as compared: all its chars without the trailing blanks. A NUL is
// a char like any other here, so a name that was never assigned (all NUL)
// or a NUL-filled time text is not the same as a blank or shorter name.
std::string_view Text(const CZelName &n) {
    const char *s = n.GetData();
    size_t len = n.GetSize();
    while (len > 0 && s[len - 1] == ' ') --len;
    return {s, len};
}

// Last two decimal digits of any value, so "%02d" writes exactly two.
int TwoDigits(int v) {
    const int r = v % 100;
    return r < 0 ? -r : r;
}

}  // namespace

// --- CZelName ---------------------------------------------------------------

void CZelName::Allocate(unsigned size) {
    m_pData = std::make_unique<char[]>(static_cast<size_t>(size) + 2);  // zeroed
    m_nSize = size;
}

CZelName::CZelName(int size) { Allocate(static_cast<unsigned>(std::max(size, 0))); }

CZelName::CZelName(const std::string &s, int size) : CZelName(size) { *this = s; }

CZelName::CZelName(const char *s, int size) : CZelName(size) { *this = s; }

CZelName::CZelName(const CZelName &o) : CZelName(static_cast<int>(o.m_nSize)) {
    std::memcpy(m_pData.get(), o.m_pData.get(), m_nSize + 1);
}

CZelName::~CZelName() = default;

void CZelName::Reset() { std::memset(m_pData.get(), 0, m_nSize + 1); }

void CZelName::Pad() {
    char *p = m_pData.get();
    const size_t len = strnlen(p, m_nSize);
    std::memset(p + len, ' ', m_nSize - len);
}

void CZelName::SetName(const char *s, int n) {
    Reset();
    const size_t limit = std::min<size_t>(static_cast<size_t>(std::max(n, 0)), m_nSize);
    if (s) std::memcpy(m_pData.get(), s, strnlen(s, limit));
    Pad();
}

CZelName &CZelName::operator=(const std::string &s) {
    SetName(s.c_str(), static_cast<int>(std::min<size_t>(s.size(), m_nSize)));
    return *this;
}

CZelName &CZelName::operator=(const char *s) {
    SetName(s, static_cast<int>(m_nSize));
    return *this;
}

CZelName &CZelName::operator=(const CZelName &o) {
    if (this == &o) return *this;
    if (m_nSize != o.m_nSize) Allocate(o.m_nSize);
    std::memcpy(m_pData.get(), o.m_pData.get(), m_nSize + 1);
    return *this;
}

unsigned CZelName::TrimmedLength() const {
    return static_cast<unsigned>(Trimmed(GetData(), GetSize()).size());
}

CBuffer &operator>>(CBuffer &b, CZelName &n) {
    n.Reset();
    const int take = static_cast<int>(std::min<long long>(n.m_nSize, std::max(b.GetLength(), 0)));
    const char *p = b.GetBuffer();
    std::memcpy(n.m_pData.get(), p, strnlen(p, static_cast<size_t>(take)));
    n.Pad();
    // Consume the name's width, but never past the end of the data.
    b.SetOffset(take);
    return b;
}

CBuffer &operator<<(CBuffer &b, const CZelName &n) {
    if (n.m_nSize) b.AddChars(n.m_pData.get(), static_cast<int>(n.m_nSize));
    return b;
}

bool operator==(const CZelName &a, const CZelName &b) { return Text(a) == Text(b); }
bool operator!=(const CZelName &a, const CZelName &b) { return !(a == b); }

bool operator==(const CZelName &a, const char *s) { return Text(a) == Trimmed(s, a.GetSize()); }
bool operator!=(const CZelName &a, const char *s) { return !(a == s); }

bool operator==(const CZelName &a, const std::string &s) {
    return Text(a) == Trimmed(s.c_str(), std::min<size_t>(s.size(), a.GetSize()));
}
bool operator!=(const CZelName &a, const std::string &s) { return !(a == s); }

// std::string_view orders bytes as unsigned chars and a prefix first: a
// total order in which equal keys are exactly the == names.
bool operator<(const CZelName &a, const CZelName &b) { return Text(a) < Text(b); }
bool operator>(const CZelName &a, const CZelName &b) { return Text(a) > Text(b); }
bool operator>=(const CZelName &a, const CZelName &b) { return !(a < b); }
bool operator<=(const CZelName &a, const CZelName &b) { return !(a > b); }

// --- CTime ------------------------------------------------------------------

CTime::CTime(int year, int month, int day, int hour, int minute, int second)
    : CZelName(kTimeSize) {
    SetTime(year, month, day, hour, minute, second);
}

void CTime::SetTime(int year, int month, int day, int hour, int minute, int second) {
    // The year keeps its last two digits (2026 -> 26, 1999 -> 99, 1970 -> 70);
    // every other value likewise, so the text is exactly twelve digits.
    char text[kTimeSize + 1];
    std::snprintf(text, sizeof text, "%.2d%.2d%.2d%.2d%.2d%.2d", TwoDigits(year),
                  TwoDigits(month), TwoDigits(day), TwoDigits(hour), TwoDigits(minute),
                  TwoDigits(second));
    SetName(text, kTimeSize);
}

CTime CTime::GetCurrentTime() {
    const time_t now = std::time(nullptr);
    struct tm tmNow;
    if (now == static_cast<time_t>(-1) || !localtime_r(&now, &tmNow))
        return CTime(0, 0, 0, 0, 0, 0);
    return CTime(tmNow.tm_year + 1900, tmNow.tm_mon + 1, tmNow.tm_mday, tmNow.tm_hour,
                 tmNow.tm_min, tmNow.tm_sec);
}

CTime CTime::FormatCurrentTime(const char *pattern, int n) {
    CTime t(std::max(n, 0));
    const size_t size = t.GetSize();
    if (size == 0) return t;
    const time_t now = std::time(nullptr);
    struct tm tmNow;
    if (now == static_cast<time_t>(-1) || !localtime_r(&now, &tmNow)) {
        std::memset(t.Data(), '0', std::min<size_t>(kTimeSize, size));
        return t;
    }
    // strftime writes at most size - 1 chars and a NUL; the rest stays NUL.
    // A text that does not fit leaves the name empty.
    if (!pattern || std::strftime(t.Data(), size, pattern, &tmNow) == 0) t.Reset();
    return t;
}
