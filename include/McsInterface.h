// MCS messages: typed views over the MCS sub-packet that an MCSO packet
// carries from body byte 24 on (see DtpPacket.h).
//
// Sub-packet layout, offsets from the start of the body:
//   24  four u32 MCS ids (echoed back with the next input)
//   40  u16 sub-packet type: 129 program message, 139 screen input,
//       199 screen-format reply, 200 screen-format request
//   42  u16 function index (1-based into "OVIEAYLMRT01F")
//   44  u16 number of parameters
//   46  u16 parameter bytes: the sum of value length + 4 over the parameters
//   48  the parameters: u16 value length, u16 type (0 byte, 1 16-bit,
//       2 32-bit, 3 byte string), the value
//
// Views made for received messages have had their parameters checked
// against the body; asking for a parameter the message does not have is no
// error (the getter returns 0). A parameter walk that leaves the body
// throws CZelPktException 4.
#ifndef QOR_MCSINTERFACE_H
#define QOR_MCSINTERFACE_H

#include <cstdint>
#include <string>

#include "DtpPacket.h"

class CArcMcsData;
class CArcSnapShot;
class CBuffer;
class CTime;
class CZelName;

class TMcsInterface : public TBasePktInterface {
public:
    // Sub-packet types.
    enum : uint16_t { kProgramMessage = 129, kScreenInput = 139, kFormatReply = 199, kFormatRequest = 200 };
    // Parameter types.
    enum : uint16_t { kParamByte = 0, kParamShort = 1, kParamInt = 2, kParamString = 3 };
    // Offsets within the sub-packet (added to the header length).
    static constexpr int kIdsAt = 0, kTypeAt = 16, kIndexAt = 18, kCountAt = 20, kBytesAt = 22,
                         kParamsAt = 24;

    virtual char GetMcsType() const = 0;

    int GetHeaderLength() const { return m_nHeaderLength; }
    unsigned GetParamCount() const { return m_nParamCount; }

    void SetIds(const unsigned ids[4]);
    void GetIds(unsigned ids[4]) const;

    // Value length, type and offset (from the packet's read offset) of
    // parameter index; 1, or 0 (logged) when the index is outside the count.
    int GetParamInfo(int index, int &length, int &type, int &offset) const;

    // Append one parameter and count it in the words at 44 and 46. A value
    // longer than 65535 bytes, or parameter bytes past 65535, throw
    // CZelPktException 4.
    void AddParam(int value);                      // length 4, type 2
    void AddParam(short value);                    // length 2, type 1
    void AddParam(const std::string &value);       // type 3
    void AddParam(const CBuffer &value);           // type 3, bytes from its offset
    void AddParam(const CArcMcsData &mcsData);     // type 3, its stored form
    void AddParam(const CArcSnapShot &snapshot);   // type 3, its stored form

    // Walks the parameters of a received sub-packet (offset at the body):
    // throws CZelPktException 4 when it is shorter than its fixed part or a
    // parameter runs past the body.
    static void CheckParams(const CZelDtpPacket &packet, int headerLength, unsigned count);

    void SetHeaderLength(int length) { m_nHeaderLength = length; }
    void SetParamCount(unsigned count) { m_nParamCount = static_cast<uint16_t>(count); }

protected:
    explicit TMcsInterface(unsigned count) : m_nParamCount(static_cast<uint16_t>(count)) {}

    // The parameter at pos: value length (fixed for types 0 to 2) and type.
    void GetNextParamInfo(int pos, int &length, int &type) const;
    // Starts the sub-packet: ids, type, index, no parameters yet; the packet
    // is cut behind the fixed part.
    void InitSubPacket(const unsigned ids[4], uint16_t type, uint16_t index);
    // Counts one more parameter of valueLength bytes.
    void UpdateParams(int valueLength);
    void AppendParam(uint16_t type, const char *value, int length);
    // The value of parameter index as a buffer (false when it is missing).
    bool CopyParam(int index, CBuffer &out) const;

    int32_t m_nHeaderLength = CZelDtpPacket::TMcso::kHeaderLength;
    uint16_t m_nParamCount;
};

// Screen input ('I'): parameter 0 the PIB, 1 the MCS header and data.
class TQorMsgi : public TMcsInterface {
public:
    TQorMsgi() : TMcsInterface(2) {}
    char GetMcsType() const override { return 'I'; }
    virtual void Init(const CArcSnapShot &snapshot, const CArcMcsData &mcsData,
                      int id0, int id1, int id2, int id3);
    virtual void Init(const CBuffer &pib, const CBuffer &mcsData, int id0, int id1, int id2, int id3);
};

// Screen-format request (sent) or reply (received), 'S'.
class TQorScrFmt : public TMcsInterface {
public:
    static constexpr int kRecordLength = 68;   // the format record before the .t3z bytes

    explicit TQorScrFmt(unsigned count = 1) : TMcsInterface(count) {}
    char GetMcsType() const override { return 'S'; }
    // A request for the format named in the MCS header.
    virtual void Init(const CArcSnapShot &snapshot, const CArcMcsData &mcsData,
                      int id0, int id1, int id2, int id3);
    // A request for a format name (parameter 0, the name's size in bytes).
    void Init(const CZelName &name, int id0, int id1, int id2, int id3);

    // Reply: parameter 0, the name.
    int GetName(std::string &name) const;
    // Reply: fields of the format record (parameter 1); a missing or short
    // record gives 0, empty texts and a date of zeros.
    int GetFormatType() const;
    void GetFormatGroup(std::string &group) const;
    void GetFormatName(std::string &name) const;
    void GetFormatDescription(std::string &description) const;
    void GetFormatDate(CTime &date) const;
    // Offset (from the packet's read offset) and length of the .t3z bytes
    // behind the record; 0 when the record is missing or shorter than 68.
    int GetFormatOffset(int &offset, unsigned short &length) const;
    unsigned short GetFormatLength() const;

private:
    // The record's text of n bytes at at, or empty past its end.
    void GetRecordText(int at, int n, std::string &out) const;
};

// A program message ('O', 'V' or 'E'): parameter 0 the PIB, 1 the MCS
// header and data, 2 the field control modifications, 3 the cursor string,
// 4 the error text.
class TQorMsgo : public TMcsInterface {
public:
    static constexpr int kShortPib = 128;

    TQorMsgo(char function, unsigned count) : TMcsInterface(count), m_cFunction(function) {}
    char GetMcsType() const override { return m_cFunction; }

    // Each returns 1 when the parameter exists, else 0.
    // A PIB shorter than 128 bytes throws CZelPktException 4.
    int GetSnapShot(CArcSnapShot &snapshot) const;
    int GetSnapShot(CBuffer &out) const;           // appends the raw value
    int GetMcsData(CArcMcsData &mcsData) const;
    int GetMcsData(CBuffer &out) const;            // appends the raw value
    int GetFccMods(CBuffer &out) const;            // appends parameter 2
    // Index of the first '*' in the cursor string, or -1.
    int GetCursorModIndex(int &index) const;
    // Parameter 4 as text (a NUL ends it, blanks to its length).
    int GetErrorText(std::string &text) const;

private:
    char m_cFunction;
};

// Function 'F' of a program message: nothing to read.
class TQorFree : public TMcsInterface {
public:
    explicit TQorFree(unsigned count) : TMcsInterface(count) {}
    char GetMcsType() const override { return 'F'; }
};

#endif
