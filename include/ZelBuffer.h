// CBuffer: the one byte container of the gateway, the editor and the
// converter. A growable block of bytes with a read offset: writing appends
// at the end of the data, reading takes bytes at the read offset and moves
// it forward. Every integer on this stream is big-endian; fixed-width host
// text fields (COBOL strings) are written and read space-padded.
//
// Storage grows in buckets of 32, 64, 128, 256 and then multiples of 256
// bytes, always with 48 spare bytes behind the capacity, and goes through
// the allocate/free hooks. Nothing here throws: a misuse (position out of
// range, a read with nothing left, a size that cannot be had) logs the
// assertion line and is answered with something inside the data.
#ifndef QOR_ZELBUFFER_H
#define QOR_ZELBUFFER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

class CZelName;

class CBuffer {
public:
    using AllocateFn = unsigned char *(*)(unsigned n);
    using FreeFn = void (*)(unsigned char *block);

    // Largest capacity a buffer may have; larger requests are refused.
    static constexpr int32_t kMaxLength = 0x40000000;
    // Spare bytes allocated behind the capacity.
    static constexpr int32_t kSpare = 48;

    static AllocateFn s_pfnAllocate;
    static FreeFn s_pfnFree;
    static void SetHeapFunctions(AllocateFn allocate, FreeFn release);

    // --- construction and ownership -------------------------------------
    CBuffer();
    explicit CBuffer(int n);                 // n zero bytes
    CBuffer(const char *p, int n);           // copy of n bytes
    CBuffer(const unsigned char *p, int n);
    CBuffer(const CBuffer &b);               // b's valid bytes, offset 0
    CBuffer(CBuffer &&b) noexcept;
    virtual ~CBuffer();

    void Initialize(int n);                  // forget storage, SetLength(n, 0)
    // Hands a block (from s_pfnAllocate) to the buffer; 0 when it already
    // has storage (nothing changes), else 1.
    int Attach(void *block, int n);
    // Gives the storage to the caller (release it with s_pfnFree).
    void *Detach();

    // --- sizes and positions --------------------------------------------
    int GetLength() const { return m_nLen; }            // bytes left to read
    int GetOffset() const { return m_nOffset; }
    int GetActualLength() const { return m_nActualLen; } // capacity
    bool IsEmpty() const { return m_nLen == 0; }

    // Pointer to the byte at the read offset (never null).
    char *GetBuffer();
    const char *GetBuffer() const;
    operator char *() { return GetBuffer(); }
    operator const char *() const { return GetBuffer(); }

    // Moves the read offset by d (negative steps back to consumed bytes);
    // kept within the storage's data.
    void SetOffset(int d);
    // Resizes the valid data to n bytes; the read offset becomes 0. keep
    // copies the old valid bytes; bytes past the old end are zero. A
    // negative n asks for fresh empty storage of at least -n (>= 512) bytes.
    void SetLength(int n, int keep);
    // Makes n bytes from the read offset valid, growing when needed.
    void SetEndOfBuffer(int n);
    // Gives back storage when at least 64 bytes are spare.
    void FreeExtra();

    // --- byte access relative to the read offset (nothing consumed) ------
    char GetAt(int i) const;
    void SetAt(int i, char c);
    template <class I, class = std::enable_if_t<std::is_integral<I>::value>>
    char operator[](I i) const {
        // Any integer type, so that b[n] never competes with the built-in
        // subscript through operator char*.
        return static_cast<unsigned long long>(i) > INT32_MAX ? GetAt(-1) : GetAt(static_cast<int>(i));
    }
    // Big-endian words at pos; bytes outside the data read as zero, a
    // store that does not fit is refused.
    uint16_t GetWORD(int pos) const;
    uint32_t GetDWORD(int pos) const;
    void SetWORD(int pos, uint16_t w);
    void SetDWORD(int pos, uint32_t dw);
    bool MatchAt(int i, char c) const;
    bool MatchChars(int pos, const char *s, int n) const;

    // --- appending (the read offset does not move) ----------------------
    void AddChars(const char *p, int n, int unused = 0);
    CBuffer &operator<<(char c);
    CBuffer &operator<<(signed char c);
    CBuffer &operator<<(unsigned char c);
    CBuffer &operator<<(short v);
    CBuffer &operator<<(unsigned short v);
    CBuffer &operator<<(int v);
    CBuffer &operator<<(unsigned int v);
    CBuffer &operator<<(const char *s);          // without the NUL
    CBuffer &operator<<(const std::string &s);
    // Only 8-, 16- and 32-bit values belong on the stream.
    CBuffer &operator<<(bool) = delete;
    CBuffer &operator<<(long) = delete;
    CBuffer &operator<<(unsigned long) = delete;
    CBuffer &operator<<(long long) = delete;
    CBuffer &operator<<(unsigned long long) = delete;
    // A buffer would go through operator char* and stop at a NUL: use +=.
    CBuffer &operator<<(const CBuffer &) = delete;
    CBuffer &operator+=(char c);
    CBuffer &operator+=(const char *s);
    CBuffer &operator+=(const CBuffer &b);
    // Exactly n bytes: s up to its NUL (at most n chars), then blanks.
    void AddCobolString(const char *s, int n);

    // --- reading (consumes) ---------------------------------------------
    CBuffer &operator>>(char &c);
    CBuffer &operator>>(signed char &c);
    CBuffer &operator>>(unsigned char &c);
    CBuffer &operator>>(short &v);
    CBuffer &operator>>(unsigned short &v);
    CBuffer &operator>>(int &v);
    CBuffer &operator>>(unsigned int &v);
    // Bytes up to the first NUL (consumed too) or the end of the data.
    CBuffer &operator>>(std::string &s);
    CBuffer &operator>>(long &) = delete;
    CBuffer &operator>>(unsigned long &) = delete;
    CBuffer &operator>>(long long &) = delete;
    CBuffer &operator>>(unsigned long long &) = delete;
    // The n bytes at the read offset (fewer when the data is shorter).
    void GetString(std::string &out, int n) const;
    // Exactly n chars: the text up to a NUL within the data, then blanks.
    // With consume the offset advances by n, at most to the end.
    void GetCobolString(std::string &out, int n, int consume);
    void ParseToken(std::string &out, char delimiter);

    // --- copying ----------------------------------------------------------
    // Fills this buffer from src's valid bytes: all of them when this one
    // is empty or longer than src, else this buffer's length of them.
    virtual void SetBuffer(CBuffer *src, int consume);
    void CopyBuffer(const CBuffer *src);
    void CopyBuffer(const std::string &s);
    CBuffer &operator=(const CBuffer &b);
    CBuffer &operator=(CBuffer &&b) noexcept;
    CBuffer &operator=(const char *s);
    CBuffer &operator=(char c);

protected:
    // Rounds n up to the storage bucket (written back) and allocates it
    // plus the spare bytes, all zero; null when it cannot be had.
    unsigned char *AllocateBuffer(unsigned &n);
    void FreeBuffer(unsigned char *block);

private:
    static unsigned char *_ProcessHeapAllocate(unsigned n);
    static void _ProcessHeapFree(unsigned char *block);

    void Clear();                    // all four fields to empty, no free
    void MakeEmpty();                // free storage, all fields empty
    unsigned char *Extend(int n);    // room for n more bytes at the end
    void AppendBigEndian(uint32_t v, int width);
    void ReadBytes(unsigned char *out, int width);

    int32_t m_nActualLen = 0;        // capacity
    int32_t m_nLen = 0;              // valid bytes from the read offset
    int32_t m_nOffset = 0;           // read offset from the storage start
    unsigned char *m_pBuffer = nullptr;
};

// New buffers: the left operand followed by the right one.
CBuffer operator+(char c, const CBuffer &b);
CBuffer operator+(const CBuffer &b, char c);
CBuffer operator+(const char *s, const CBuffer &b);
CBuffer operator+(const CBuffer &b, const char *s);
CBuffer operator+(const CBuffer &a, const CBuffer &b);

#endif
