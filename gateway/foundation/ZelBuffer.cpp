// CBuffer: growable byte block with a read offset, big-endian integers and
// COBOL strings. See ZelBuffer.h.
#include "ZelBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "logprint.h"

namespace {

// What GetBuffer points at while there is no storage, so that callers never
// see a null pointer (an empty buffer has nothing to read there anyway).
char s_noData[1] = {0};

// The storage buckets: 32, 64, 128, 256, then multiples of 256.
uint32_t RoundSize(uint32_t n) {
    if (n < 32) return 32;
    if (n < 64) return 64;
    if (n < 128) return 128;
    if (n < 256) return 256;
    return (n + 255u) & ~255u;
}

void LogSizeWarning(long long n) {
    logPrintf("WARNING: CBuffer  SetLength given %lld\n", n);
}

}  // namespace

CBuffer::AllocateFn CBuffer::s_pfnAllocate = &CBuffer::_ProcessHeapAllocate;
CBuffer::FreeFn CBuffer::s_pfnFree = &CBuffer::_ProcessHeapFree;

unsigned char *CBuffer::_ProcessHeapAllocate(unsigned n) {
    return new (std::nothrow) unsigned char[static_cast<size_t>(n) + 16];
}

void CBuffer::_ProcessHeapFree(unsigned char *block) {
    delete[] block;
}

void CBuffer::SetHeapFunctions(AllocateFn allocate, FreeFn release) {
    s_pfnAllocate = allocate;
    s_pfnFree = release;
}

unsigned char *CBuffer::AllocateBuffer(unsigned &n) {
    if (n > static_cast<unsigned>(kMaxLength)) {
        LOG_ASSERT(n <= static_cast<unsigned>(kMaxLength));
        return nullptr;
    }
    n = RoundSize(n);
    unsigned char *block = s_pfnAllocate(n + kSpare);
    LOG_ASSERT(block != nullptr);
    return block;
}

void CBuffer::FreeBuffer(unsigned char *block) {
    if (block) s_pfnFree(block);
}

// --- construction and ownership -------------------------------------------

CBuffer::CBuffer() {}

CBuffer::CBuffer(int n) { SetLength(n, 0); }

CBuffer::CBuffer(const char *p, int n) {
    AddChars(p, n);
}

CBuffer::CBuffer(const unsigned char *p, int n) {
    AddChars(reinterpret_cast<const char *>(p), n);
}

CBuffer::CBuffer(const CBuffer &b) {
    AddChars(b.GetBuffer(), b.m_nLen);
}

CBuffer::CBuffer(CBuffer &&b) noexcept
    : m_nActualLen(b.m_nActualLen), m_nLen(b.m_nLen), m_nOffset(b.m_nOffset),
      m_pBuffer(b.m_pBuffer) {
    b.Clear();
}

CBuffer::~CBuffer() { FreeBuffer(m_pBuffer); }

void CBuffer::Clear() {
    m_nActualLen = 0;
    m_nLen = 0;
    m_nOffset = 0;
    m_pBuffer = nullptr;
}

void CBuffer::MakeEmpty() {
    FreeBuffer(m_pBuffer);
    Clear();
}

void CBuffer::Initialize(int n) {
    MakeEmpty();
    SetLength(n, 0);
}

int CBuffer::Attach(void *block, int n) {
    if (m_pBuffer) return 0;
    if (n < 0 || n > kMaxLength) {
        LOG_ASSERT(n >= 0 && n <= kMaxLength);
        return 0;
    }
    Clear();
    if (n == 0) {
        // The buffer owns the block from now on, but keeps no storage.
        FreeBuffer(static_cast<unsigned char *>(block));
        return 1;
    }
    m_pBuffer = static_cast<unsigned char *>(block);
    m_nActualLen = m_nLen = n;
    return 1;
}

void *CBuffer::Detach() {
    void *block = m_pBuffer;
    Clear();
    return block;
}

// --- sizes and positions --------------------------------------------------

char *CBuffer::GetBuffer() {
    return m_pBuffer ? reinterpret_cast<char *>(m_pBuffer + m_nOffset) : s_noData;
}

const char *CBuffer::GetBuffer() const {
    return m_pBuffer ? reinterpret_cast<const char *>(m_pBuffer + m_nOffset) : s_noData;
}

void CBuffer::SetOffset(int d) {
    const long long end = static_cast<long long>(m_nOffset) + m_nLen;
    long long off = static_cast<long long>(m_nOffset) + d;
    if (off < 0 || off > end) {
        LOG_ASSERT(off >= 0 && off <= end);
        off = std::clamp(off, 0LL, end);
    }
    m_nOffset = static_cast<int32_t>(off);
    m_nLen = static_cast<int32_t>(end - off);
}

void CBuffer::SetLength(int n, int keep) {
    if (n < 0) {
        // A fresh, empty buffer of at least -n bytes; the old content goes.
        MakeEmpty();
        if (logCtrlFlgs & LOG_DETAIL) LogSizeWarning(n);
        long long want = std::max(-static_cast<long long>(n), 512LL);
        if (want > kMaxLength) {
            LogSizeWarning(n);
            return;
        }
        unsigned size = static_cast<unsigned>(want);
        unsigned char *block = AllocateBuffer(size);
        if (!block) return;
        std::memset(block, 0, size + kSpare);
        m_pBuffer = block;
        m_nActualLen = static_cast<int32_t>(size);
        return;
    }
    if (n == 0) {
        m_nLen = 0;
        m_nOffset = 0;
        return;
    }
    if (n > kMaxLength) {
        // Refused: the caller finds an empty buffer rather than a short one.
        LogSizeWarning(n);
        LOG_ASSERT(n <= kMaxLength);
        m_nLen = 0;
        m_nOffset = 0;
        return;
    }
    const int32_t oldLen = std::clamp(m_nLen, 0, std::max(m_nActualLen - m_nOffset, 0));
    if (n > m_nActualLen) {
        unsigned size = static_cast<unsigned>(
            std::min<long long>(static_cast<long long>(n) + m_nOffset, kMaxLength));
        unsigned char *block = AllocateBuffer(size);
        if (!block) {
            m_nLen = 0;
            m_nOffset = 0;
            return;
        }
        int32_t kept = 0;
        if (keep && oldLen > 0) {
            kept = std::min(oldLen, n);
            std::memcpy(block, m_pBuffer + m_nOffset, kept);
        }
        std::memset(block + kept, 0, size + kSpare - kept);
        FreeBuffer(m_pBuffer);
        m_pBuffer = block;
        m_nActualLen = static_cast<int32_t>(size);
    } else {
        // All valid bytes move (not only the first n): a later
        // SetEndOfBuffer makes those behind the new length valid again.
        if (m_nOffset > 0 && oldLen > 0)
            std::memmove(m_pBuffer, m_pBuffer + m_nOffset, oldLen);
        if (n > oldLen) std::memset(m_pBuffer + oldLen, 0, n - oldLen);
    }
    m_nLen = n;
    m_nOffset = 0;
}

void CBuffer::SetEndOfBuffer(int n) {
    if (n <= 0) {
        m_nLen = 0;
        return;
    }
    if (static_cast<long long>(m_nOffset) + n <= m_nActualLen) {
        m_nLen = n;   // bytes already in the storage become valid
        return;
    }
    m_nLen = m_nActualLen - m_nOffset;
    SetLength(n, 1);
}

void CBuffer::FreeExtra() {
    if (!m_pBuffer || m_nActualLen == m_nLen || m_nActualLen - m_nLen <= 63) return;
    if (m_nLen < 1) {
        MakeEmpty();
        return;
    }
    // The valid bytes (from the read offset) move to the start of the
    // smaller block, so the offset becomes 0.
    unsigned size = static_cast<unsigned>(m_nLen);
    unsigned char *block = AllocateBuffer(size);
    if (!block) return;
    std::memcpy(block, m_pBuffer + m_nOffset, m_nLen);
    std::memset(block + m_nLen, 0, size + kSpare - m_nLen);
    FreeBuffer(m_pBuffer);
    m_pBuffer = block;
    m_nActualLen = static_cast<int32_t>(size);
    m_nOffset = 0;
}

// --- byte access ----------------------------------------------------------

char CBuffer::GetAt(int i) const {
    if (i < 0 || i >= m_nLen || !m_pBuffer) {
        LOG_ASSERT(i >= 0 && i < m_nLen && m_pBuffer);
        return 0;
    }
    return static_cast<char>(m_pBuffer[m_nOffset + i]);
}

void CBuffer::SetAt(int i, char c) {
    if (i < 0 || i >= m_nLen || !m_pBuffer) {
        LOG_ASSERT(i >= 0 && i < m_nLen && m_pBuffer);
        return;
    }
    m_pBuffer[m_nOffset + i] = static_cast<unsigned char>(c);
}

uint16_t CBuffer::GetWORD(int pos) const {
    unsigned char b[2] = {0, 0};
    const bool inside = pos >= 0 && static_cast<long long>(pos) + 2 <= m_nLen;
    LOG_ASSERT(inside);
    for (int k = 0; k < 2; ++k) {
        const long long at = static_cast<long long>(pos) + k;
        if (at >= 0 && at < m_nLen) b[k] = m_pBuffer[m_nOffset + at];
    }
    return static_cast<uint16_t>(b[0] << 8 | b[1]);
}

uint32_t CBuffer::GetDWORD(int pos) const {
    unsigned char b[4] = {0, 0, 0, 0};
    const bool inside = pos >= 0 && static_cast<long long>(pos) + 4 <= m_nLen;
    LOG_ASSERT(inside);
    for (int k = 0; k < 4; ++k) {
        const long long at = static_cast<long long>(pos) + k;
        if (at >= 0 && at < m_nLen) b[k] = m_pBuffer[m_nOffset + at];
    }
    return static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
           static_cast<uint32_t>(b[2]) << 8 | b[3];
}

void CBuffer::SetWORD(int pos, uint16_t w) {
    if (pos < 0 || static_cast<long long>(pos) + 2 > m_nLen) {
        LOG_ASSERT(pos >= 0 && static_cast<long long>(pos) + 2 <= m_nLen);
        return;
    }
    unsigned char *p = m_pBuffer + m_nOffset + pos;
    p[0] = static_cast<unsigned char>(w >> 8);
    p[1] = static_cast<unsigned char>(w);
}

void CBuffer::SetDWORD(int pos, uint32_t dw) {
    if (pos < 0 || static_cast<long long>(pos) + 4 > m_nLen) {
        LOG_ASSERT(pos >= 0 && static_cast<long long>(pos) + 4 <= m_nLen);
        return;
    }
    unsigned char *p = m_pBuffer + m_nOffset + pos;
    p[0] = static_cast<unsigned char>(dw >> 24);
    p[1] = static_cast<unsigned char>(dw >> 16);
    p[2] = static_cast<unsigned char>(dw >> 8);
    p[3] = static_cast<unsigned char>(dw);
}

bool CBuffer::MatchAt(int i, char c) const {
    return i >= 0 && i < m_nLen && m_pBuffer[m_nOffset + i] == static_cast<unsigned char>(c);
}

bool CBuffer::MatchChars(int pos, const char *s, int n) const {
    if (pos < 0 || !s || static_cast<long long>(pos) + std::max(n, 0) > m_nLen) return false;
    for (int k = n - 1; k >= 0; --k)
        if (m_pBuffer[m_nOffset + pos + k] != static_cast<unsigned char>(s[k])) return false;
    return true;
}

// --- appending ------------------------------------------------------------

// Makes room for n more bytes after the data and returns where they go, or
// null (nothing changed) when the storage cannot grow. Growth keeps the
// consumed bytes before the read offset, like every append.
unsigned char *CBuffer::Extend(int n) {
    const long long end = static_cast<long long>(m_nOffset) + m_nLen;
    const long long total = end + n;
    if (total > kMaxLength) {
        LogSizeWarning(total);
        LOG_ASSERT(total <= kMaxLength);
        return nullptr;
    }
    if (total > m_nActualLen) {
        unsigned size = static_cast<unsigned>(total);
        unsigned char *block = AllocateBuffer(size);
        if (!block) return nullptr;
        if (end > 0) std::memcpy(block, m_pBuffer, static_cast<size_t>(end));
        std::memset(block + end, 0, size + kSpare - static_cast<size_t>(end));
        FreeBuffer(m_pBuffer);
        m_pBuffer = block;
        m_nActualLen = static_cast<int32_t>(size);
    }
    m_nLen += n;
    return m_pBuffer + end;
}

void CBuffer::AddChars(const char *p, int n, int) {
    if (n <= 0) {
        LOG_ASSERT(n == 0);
        return;
    }
    if (!p) {
        LOG_ASSERT(p != nullptr);
        return;
    }
    // The source may lie in this buffer's own storage, which may move.
    const auto src = reinterpret_cast<uintptr_t>(p);
    const auto base = reinterpret_cast<uintptr_t>(m_pBuffer);
    const bool own = m_pBuffer && src >= base && src < base + m_nActualLen + kSpare;
    const uintptr_t at = src - base;
    unsigned char *dst = Extend(n);
    if (!dst) return;
    std::memmove(dst, own ? m_pBuffer + at : reinterpret_cast<const unsigned char *>(p), n);
}

void CBuffer::AppendBigEndian(uint32_t v, int width) {
    unsigned char b[4];
    for (int k = 0; k < width; ++k)
        b[k] = static_cast<unsigned char>(v >> (8 * (width - 1 - k)));
    AddChars(reinterpret_cast<const char *>(b), width);
}

CBuffer &CBuffer::operator<<(char c) {
    AddChars(&c, 1);
    return *this;
}
CBuffer &CBuffer::operator<<(signed char c) {
    return *this << static_cast<char>(c);
}
CBuffer &CBuffer::operator<<(unsigned char c) {
    return *this << static_cast<char>(c);
}
CBuffer &CBuffer::operator<<(short v) {
    AppendBigEndian(static_cast<uint16_t>(v), 2);
    return *this;
}
CBuffer &CBuffer::operator<<(unsigned short v) {
    AppendBigEndian(v, 2);
    return *this;
}
CBuffer &CBuffer::operator<<(int v) {
    AppendBigEndian(static_cast<uint32_t>(v), 4);
    return *this;
}
CBuffer &CBuffer::operator<<(unsigned int v) {
    AppendBigEndian(v, 4);
    return *this;
}
CBuffer &CBuffer::operator<<(const char *s) {
    if (s) AddChars(s, static_cast<int>(std::min<size_t>(std::strlen(s), kMaxLength + 1u)));
    return *this;
}
CBuffer &CBuffer::operator<<(const std::string &s) {
    if (!s.empty())
        AddChars(s.data(), static_cast<int>(std::min<size_t>(s.size(), kMaxLength + 1u)));
    return *this;
}

CBuffer &CBuffer::operator+=(char c) { return *this << c; }
CBuffer &CBuffer::operator+=(const char *s) { return *this << s; }
CBuffer &CBuffer::operator+=(const CBuffer &b) {
    if (b.m_nLen > 0) AddChars(b.GetBuffer(), b.m_nLen);
    return *this;
}

void CBuffer::AddCobolString(const char *s, int n) {
    if (n < 1) {
        LOG_ASSERT(n >= 1);
        return;
    }
    const size_t k = s ? strnlen(s, static_cast<size_t>(n)) : 0;
    // Remember where s lies should it be inside this buffer's storage.
    CBuffer copy;
    if (s && m_pBuffer) {
        const auto src = reinterpret_cast<uintptr_t>(s);
        const auto base = reinterpret_cast<uintptr_t>(m_pBuffer);
        if (src >= base && src < base + m_nActualLen + kSpare) {
            copy.AddChars(s, static_cast<int>(k));
            s = copy.GetBuffer();
        }
    }
    unsigned char *dst = Extend(n);
    if (!dst) return;
    if (k) std::memcpy(dst, s, k);
    std::memset(dst + k, ' ', n - k);
}

// --- reading --------------------------------------------------------------

void CBuffer::ReadBytes(unsigned char *out, int width) {
    if (m_nLen < width) {
        // Short data is extended by the missing bytes only (to the width;
        // SetLength moves the valid bytes to the start): they read as
        // zero and the data ends up consumed.
        SetLength(width, 1);
    }
    const int avail = std::clamp(m_nLen, 0, width);
    if (avail) std::memcpy(out, m_pBuffer + m_nOffset, avail);
    std::memset(out + avail, 0, width - avail);
    m_nOffset += avail;
    m_nLen -= avail;
}

CBuffer &CBuffer::operator>>(char &c) {
    if (m_nLen < 1) {
        LOG_ASSERT(m_nLen >= 1);
        c = 0;
        return *this;
    }
    c = static_cast<char>(m_pBuffer[m_nOffset]);
    ++m_nOffset;
    --m_nLen;
    return *this;
}
CBuffer &CBuffer::operator>>(signed char &c) {
    char x;
    *this >> x;
    c = static_cast<signed char>(x);
    return *this;
}
CBuffer &CBuffer::operator>>(unsigned char &c) {
    char x;
    *this >> x;
    c = static_cast<unsigned char>(x);
    return *this;
}
CBuffer &CBuffer::operator>>(short &v) {
    unsigned short u;
    *this >> u;
    v = static_cast<short>(u);
    return *this;
}
CBuffer &CBuffer::operator>>(unsigned short &v) {
    unsigned char b[2];
    ReadBytes(b, 2);
    v = static_cast<unsigned short>(b[0] << 8 | b[1]);
    return *this;
}
CBuffer &CBuffer::operator>>(int &v) {
    unsigned int u;
    *this >> u;
    v = static_cast<int>(u);
    return *this;
}
CBuffer &CBuffer::operator>>(unsigned int &v) {
    unsigned char b[4];
    ReadBytes(b, 4);
    v = static_cast<unsigned>(b[0]) << 24 | static_cast<unsigned>(b[1]) << 16 |
        static_cast<unsigned>(b[2]) << 8 | b[3];
    return *this;
}

CBuffer &CBuffer::operator>>(std::string &s) {
    const char *p = GetBuffer();
    const void *nul = m_nLen > 0 ? std::memchr(p, 0, m_nLen) : nullptr;
    const int n = nul ? static_cast<int>(static_cast<const char *>(nul) - p) : std::max(m_nLen, 0);
    if (n == 0) {
        s.clear();
        return *this;
    }
    s.assign(p, n);
    SetOffset(n + (nul ? 1 : 0));
    return *this;
}

void CBuffer::GetString(std::string &out, int n) const {
    if (n < 0 || n > m_nLen) {
        LOG_ASSERT(n >= 0 && n <= m_nLen);
        n = std::clamp(n, 0, std::max(m_nLen, 0));
    }
    out.assign(GetBuffer(), n);
}

void CBuffer::GetCobolString(std::string &out, int n, int consume) {
    if (n < 0 || n > kMaxLength) {
        LOG_ASSERT(n >= 0 && n <= kMaxLength);
        n = std::clamp(n, 0, static_cast<int>(kMaxLength));
    }
    const int m = std::min(n, std::max(m_nLen, 0));
    const char *p = GetBuffer();
    const int k = static_cast<int>(strnlen(p, m));
    out.assign(p, k);
    out.append(n - k, ' ');
    // The offset never passes the end of the data.
    if (consume) SetOffset(m);
}

void CBuffer::ParseToken(std::string &out, char delimiter) {
    const char *p = GetBuffer();
    const int len = std::max(m_nLen, 0);
    const void *hit = len ? std::memchr(p, delimiter, len) : nullptr;
    if (!hit && len) hit = std::memchr(p, 0, len);
    if (!hit) {
        *this >> out;
        return;
    }
    const int pos = static_cast<int>(static_cast<const char *>(hit) - p);
    if (pos > 0) {
        out.assign(p, pos);
        SetOffset(pos + 1);
    } else {
        out.clear();
        SetOffset(1);
    }
}

// --- copying --------------------------------------------------------------

void CBuffer::SetBuffer(CBuffer *src, int consume) {
    if (!src) {
        LOG_ASSERT(src != nullptr);
        return;
    }
    if (src == this) {
        // Own bytes: move the valid data to the start.
        if (m_nOffset > 0 && m_nLen > 0) std::memmove(m_pBuffer, m_pBuffer + m_nOffset, m_nLen);
        m_nOffset = 0;
        return;
    }
    const int srcLen = std::max(src->m_nLen, 0);
    m_nOffset = 0;
    if (m_nLen <= 0 || m_nLen > srcLen) SetLength(srcLen, 0);
    const int n = std::min(m_nLen, srcLen);
    if (n > 0) std::memcpy(m_pBuffer, src->GetBuffer(), n);
    if (consume) src->SetOffset(n);
}

void CBuffer::CopyBuffer(const CBuffer *src) {
    if (!src) {
        LOG_ASSERT(src != nullptr);
        return;
    }
    if (src == this) return;
    SetLength(src->m_nLen, 1);
    // SetBuffer does not change src when it does not consume.
    SetBuffer(const_cast<CBuffer *>(src), 0);
}

void CBuffer::CopyBuffer(const std::string &s) {
    CBuffer tmp;
    tmp << s;
    CopyBuffer(&tmp);
}

CBuffer &CBuffer::operator=(const CBuffer &b) {
    CopyBuffer(&b);
    return *this;
}

CBuffer &CBuffer::operator=(CBuffer &&b) noexcept {
    if (this != &b) {
        FreeBuffer(m_pBuffer);
        m_nActualLen = b.m_nActualLen;
        m_nLen = b.m_nLen;
        m_nOffset = b.m_nOffset;
        m_pBuffer = b.m_pBuffer;
        b.Clear();
    }
    return *this;
}

CBuffer &CBuffer::operator=(const char *s) {
    CBuffer tmp;
    tmp << s;
    CopyBuffer(&tmp);
    return *this;
}

CBuffer &CBuffer::operator=(char c) {
    SetLength(1, 0);
    if (m_nLen == 1) m_pBuffer[0] = static_cast<unsigned char>(c);
    return *this;
}

// --- concatenation --------------------------------------------------------

CBuffer operator+(char c, const CBuffer &b) {
    CBuffer r;
    r << c;
    r += b;
    return r;
}

CBuffer operator+(const CBuffer &b, char c) {
    CBuffer r(b);
    r << c;
    return r;
}

CBuffer operator+(const char *s, const CBuffer &b) {
    CBuffer r;
    r << s;
    r += b;
    return r;
}

CBuffer operator+(const CBuffer &b, const char *s) {
    CBuffer r(b);
    r << s;
    return r;
}

CBuffer operator+(const CBuffer &a, const CBuffer &b) {
    CBuffer r(a);
    r += b;
    return r;
}
