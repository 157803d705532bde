// CZelName: a fixed-size, blank-padded host name (locap, transaction,
// screen-format and terminal names). Comparisons ignore trailing blanks;
// it streams into and out of a CBuffer as exactly its size in bytes, and it
// is the key of the locap-to-transport map, so its order is a total order.
//
// CTime: a CZelName holding a local date and time as text, two digits each
// of year, month, day, hour, minute and second, or the text of a strftime
// pattern.
#ifndef QOR_ZELNAME_H
#define QOR_ZELNAME_H

#include <cstdint>
#include <memory>
#include <string>

class CBuffer;

class CZelName {
public:
    explicit CZelName(int size);                 // size NUL chars
    CZelName(const std::string &s, int size);
    CZelName(const char *s, int size);
    CZelName(const CZelName &o);
    ~CZelName();

    void Reset();                                // all chars NUL
    void Pad();                                  // blanks from the first NUL on
    // Copies at most n chars of s (stopping at a NUL; n is cut to the size).
    void SetName(const char *s, int n);
    CZelName &operator=(const std::string &s);
    CZelName &operator=(const char *s);
    CZelName &operator=(const CZelName &o);      // takes o's size too

    const char *GetData() const { return m_pData.get(); }
    operator const char *() const { return m_pData.get(); }
    unsigned GetSize() const { return m_nSize; }

    // Length of the text: up to the first NUL, without trailing blanks.
    unsigned TrimmedLength() const;

    // Reads at most size bytes (a NUL ends the text), pads, and consumes
    // size bytes (at most what the buffer holds).
    friend CBuffer &operator>>(CBuffer &b, CZelName &n);
    // Appends exactly size bytes, blanks included.
    friend CBuffer &operator<<(CBuffer &b, const CZelName &n);

protected:
    char *Data() { return m_pData.get(); }

private:
    void Allocate(unsigned size);

    std::unique_ptr<char[]> m_pData;             // size + 2 chars, NUL after the name
    uint32_t m_nSize = 0;
};

// All comparisons are on the texts without trailing blanks: a name's text
// is all its chars (NULs included), a C string or standard string is cut
// to the name's size and ends at its NUL.
bool operator==(const CZelName &a, const CZelName &b);
bool operator!=(const CZelName &a, const CZelName &b);
bool operator==(const CZelName &a, const char *s);
bool operator!=(const CZelName &a, const char *s);
bool operator==(const CZelName &a, const std::string &s);
bool operator!=(const CZelName &a, const std::string &s);
// Lexicographic byte order of the trimmed texts (a prefix sorts first), so
// "HOST" and "HOST1" are different map keys.
bool operator<(const CZelName &a, const CZelName &b);
bool operator>(const CZelName &a, const CZelName &b);
bool operator>=(const CZelName &a, const CZelName &b);
bool operator<=(const CZelName &a, const CZelName &b);

class CTime : public CZelName {
public:
    static constexpr int kTimeSize = 12;

    explicit CTime(int size) : CZelName(size) {}
    CTime(int year, int month, int day, int hour, int minute, int second);
    CTime(const CTime &o) = default;
    CTime &operator=(const CTime &o) = default;

    // Writes "YYMMDDhhmmss": every value as its last two digits, so the
    // text never passes twelve characters (cut further for a smaller name).
    void SetTime(int year, int month, int day, int hour, int minute, int second);

    // The current local time as twelve digits (all zero when the local
    // time cannot be had).
    static CTime GetCurrentTime();
    // A name of size n holding the current local time formatted with the
    // strftime pattern (at most n - 1 chars, NUL-filled after the text).
    static CTime FormatCurrentTime(const char *pattern, int n);
};

#endif
