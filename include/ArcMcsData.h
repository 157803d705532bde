// CArcMcsHdr and CArcMcsData: an MCS message, the 20-byte MCS header and
// the screen data that follows it.
//
// Header on the wire (integers big-endian):
//     0  name (8), the screen-format name, blank-padded
//     8  terminal (4), blank-padded
//    12  function     13  hold     14  u16 size
//    16  status       17  filler   18  u16 count: data bytes that follow
//
// CArcMcsData adds the data and a bookmark: with the bookmark flag on, only
// the data from the bookmark on is sent. In it the header's count is the
// number of used data bytes; a count that the host sent larger than the
// data never makes anything read past the data.
#ifndef QOR_ARCMCSDATA_H
#define QOR_ARCMCSDATA_H

#include <cstdint>

#include "SafeString.h"
#include "ZelBuffer.h"

class CArcMcsHdr {
public:
    static constexpr int kHeaderLength = 20;
    static constexpr int kNameWidth = 8;
    static constexpr int kTerminalWidth = 4;

    CArcMcsHdr() = default;
    CArcMcsHdr(const CArcMcsHdr &) = default;
    CArcMcsHdr &operator=(const CArcMcsHdr &) = default;

    // Consumes the 20 header bytes (fewer when the buffer holds fewer; the
    // missing ones read as blanks and zeros). The int is not used here.
    virtual void LoadFromBuffer(CBuffer &buffer, int total);
    // Appends the 20 header bytes.
    virtual void StoreInBuffer(CBuffer &buffer) const;
    virtual int GetLength() const { return kHeaderLength; }
    virtual ~CArcMcsHdr() = default;

    const SafeString &GetName() const { return m_strName; }
    const SafeString &GetTerminal() const { return m_strTerminal; }
    char GetFunction() const { return m_cFunction; }
    char GetHold() const { return m_cHold; }
    uint16_t GetSize() const { return m_nSize; }
    char GetStatus() const { return m_cStatus; }
    char GetFiller() const { return m_cFiller; }
    uint16_t GetCount() const { return m_nCount; }

    void SetName(const SafeString &name) { m_strName = name; }
    void SetTerminal(const SafeString &terminal) { m_strTerminal = terminal; }
    void SetFunction(char c) { m_cFunction = c; }
    void SetHold(char c) { m_cHold = c; }
    void SetSize(uint16_t n) { m_nSize = n; }
    void SetStatus(char c) { m_cStatus = c; }
    void SetFiller(char c) { m_cFiller = c; }
    void SetCount(uint16_t n) { m_nCount = n; }

protected:
    // The header with count in place of m_nCount.
    void StoreHeader(CBuffer &buffer, uint16_t count) const;

    SafeString m_strName;
    SafeString m_strTerminal;
    char m_cFunction = ' ';
    char m_cHold = ' ';
    uint16_t m_nSize = 0;
    char m_cStatus = ' ';
    char m_cFiller = ' ';
    uint16_t m_nCount = 0;
};

class CArcMcsData : public CArcMcsHdr {
public:
    enum : uint8_t { kSendFromBookmark = 0x1 };

    CArcMcsData() = default;
    CArcMcsData(const CArcMcsData &o) : CArcMcsHdr(o), m_bFlags(o.m_bFlags), m_nBookmark(o.m_nBookmark), m_data(o.m_data) {}
    CArcMcsData &operator=(const CArcMcsData &o);

    // The header, then the data: sized to total - 20 bytes and filled from
    // the buffer (consumed; zeros where it holds fewer); the count keeps the
    // header's value.
    void LoadFromBuffer(CBuffer &buffer, int total) override;
    // The header (count cut to the data), then the data: from the bookmark
    // when the flag is on and a bookmark is set, else the first count bytes.
    void StoreInBuffer(CBuffer &buffer) const override;
    // What StoreInBuffer appends.
    int GetLength() const override;

    void EnableLastBookmark(int on);
    int GetBookmark() const { return m_nBookmark; }
    const CBuffer &GetDataBuffer() const { return m_data; }

    // Puts n bytes of src (from its offset; blanks where it has fewer) at
    // pos, zero-extending the data; the bookmark becomes pos and the count
    // grows to pos + n. Returns n, or 0 for a negative position or length
    // or an end past 65535.
    int SetData(const CBuffer &src, int pos, int n);
    // out becomes the at most n bytes from pos up to the count (up to the
    // data length when all is set); never past the data.
    void GetData(CBuffer &out, int pos, int n, int all) const;

private:
    // Bytes StoreInBuffer appends after the header.
    int StoredDataLength() const;
    uint16_t UsedCount() const;

    uint8_t m_bFlags = 0;
    int32_t m_nBookmark = 0;
    CBuffer m_data;
};

#endif
