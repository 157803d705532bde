// DTP packets: the messages the gateway exchanges with a QOR/ix host.
//
// On the connection each message is a 4-byte big-endian length (not
// counting itself) followed by the body. Body byte 0 is the packet class;
// for every class but HelloDTP bytes 1 to 3 are zero. Integers are
// big-endian, names are blank-padded to fixed widths.
//
// CZelDtpPacket is the body (a CBuffer with a reference count). Typed views
// (TBasePktInterface and the nested T... classes) read and write its
// fields; every field position is counted from the packet's read offset,
// which is the start of the body (a packet read by the socket transport
// keeps its length word in front of the offset). A view holds one
// reference to its packet from AttachPacket until ReleasePacketInterface.
//
// Received packets are checked before a view is made: too short for the
// class, an unknown class, or inner lengths (CDA, DezUR texts) that run past
// the body throw a CZelPktException. The exception is allocated with new and
// thrown as a pointer; the catcher converts it with ErrorCode2Result (always
// -1004) and deletes it.
#ifndef QOR_DTPPACKET_H
#define QOR_DTPPACKET_H

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "Result.h"
#include "ZelBuffer.h"

class CZelDtpPacket;
class CZelName;
class TMcsInterface;

class CZelPktException {
public:
    enum _ExceptionErrorCode : int32_t {
        UnknownPacket = 1,              // unknown class, or an MCS letter that cannot be built
        PacketTooShort = 2,             // shorter than its class needs, or inner lengths past the end
        InvalidQorBufferSubpacket = 4,  // invalid MCS sub-packet
    };

    explicit CZelPktException(_ExceptionErrorCode code) : m_nErrorCode(code) {}

    _ExceptionErrorCode GetErrorCode() const { return m_nErrorCode; }
    // Every packet error is a bad reply for the protocol: -1004.
    static Result ErrorCode2Result(_ExceptionErrorCode) { return Result::CommBadDtpReply; }
    Result ErrorCode2Result() const { return ErrorCode2Result(m_nErrorCode); }

    // Throws a new exception with that code (as a pointer).
    [[noreturn]] static void Throw(_ExceptionErrorCode code) { throw new CZelPktException(code); }

private:
    _ExceptionErrorCode m_nErrorCode;
};

// Root of every packet view.
class TBasePktInterface {
public:
    TBasePktInterface() = default;
    TBasePktInterface(const TBasePktInterface &) = delete;
    TBasePktInterface &operator=(const TBasePktInterface &) = delete;
    // Releases the packet reference should the view still hold one.
    virtual ~TBasePktInterface();

    // Stores the packet and adds a reference to it.
    void AttachPacket(CZelDtpPacket *packet);
    // Releases the packet reference and deletes the view itself.
    void ReleasePacketInterface();
    CZelDtpPacket *GetBuffer() const { return m_pPacket; }

    // Diagnosis only.
    void AddPacketInterfaceRef();
    void TracePacketInterfaceRef(const char *file, int line) const;

protected:
    CZelDtpPacket *m_pPacket = nullptr;
};

// Deleter for holding views in a std::unique_ptr.
struct TPktInterfaceRelease {
    void operator()(TBasePktInterface *view) const {
        if (view) view->ReleasePacketInterface();
    }
};
template <class View>
using TPktInterfacePtr = std::unique_ptr<View, TPktInterfaceRelease>;

class CZelDtpPacket : public CBuffer {
public:
    // Packet classes (body byte 0).
    enum PacketClass : uint8_t {
        kOpen = 1, kAccept = 2, kReject = 3, kClose = 4, kPrst = 6, kProk = 7,
        kPren = 8, kMsgo = 11, kMcso = 30, kDezUrRead = 48, kDezUrSend = 49,
        kHello = 116,
    };

    class TPktInterface;
    template <class View, int ARG_SIZE, uint8_t ARG_CLASS> class TIfaceClass;
    template <class View, uint8_t ARG_CLASS> class TSessHdr;
    template <class View, uint8_t ARG_CLASS> class TDezUrHdr;
    class THello;
    class TOpen;
    class TAccept;
    class TReject;
    class TClose;
    class TPrst;
    class TProk;
    class TPren;
    class TMsgo;
    class TMcso;
    class TDezUrRead;
    class TDezUrSend;

    CZelDtpPacket() = default;
    explicit CZelDtpPacket(int size) : CBuffer(size) {}   // size zero bytes
    CZelDtpPacket(const CZelDtpPacket &) = delete;
    CZelDtpPacket &operator=(const CZelDtpPacket &) = delete;
    ~CZelDtpPacket() override;

    // Reference count; Release deletes the packet when it reaches 0. An
    // object that keeps a packet for its own life (the protocol's receive
    // packet) allocates it with new, takes one reference and releases it at
    // its end: releasing views then never deletes it. Destroying a packet
    // whose count is not 0 is logged as an assertion.
    int AddRef() { return ++m_nRefCount; }
    int Release();
    int GetRefCount() const { return m_nRefCount; }

    // Makes the view that matches this received packet (offset at the
    // body), attached with one more reference; throws CZelPktException.
    TBasePktInterface *QueryPacketInterface();

    // --- field access, positions counted from the read offset -----------
    // Writes extend a shorter packet with zero bytes and never shorten it.
    // The source must not lie inside this packet.
    void PutBytes(int pos, const void *p, int n);
    void PutBuffer(int pos, const CBuffer &b);        // b's bytes from its offset
    void PutByte(int pos, uint8_t v) { PutBytes(pos, &v, 1); }
    void PutWord(int pos, uint16_t v);
    void PutDWord(int pos, uint32_t v);
    void PutName(int pos, const char *s, int width);  // blank-padded, cut at width
    void PutFill(int pos, char c, int n);
    // Cuts the packet to n bytes from the offset when it is longer.
    void Truncate(int n);
    // Whether n bytes at pos are inside the body.
    bool Has(int pos, int n) const {
        return pos >= 0 && n >= 0 && static_cast<long long>(pos) + n <= GetLength();
    }
    // Reads; bytes outside the body read as 0 (callers check Has first).
    uint8_t GetByte(int pos) const;
    // n bytes at pos as a name (a NUL ends the text, the rest is blanks).
    void GetName(int pos, CZelName &name, int n) const;

private:
    int32_t m_nRefCount = 0;
};

// A view with a packet type and an Init for outgoing packets.
class CZelDtpPacket::TPktInterface : public TBasePktInterface {
public:
    // Writes the packet's fixed part (see each view).
    virtual void Init(const std::string &locap, unsigned sender, unsigned receiver) = 0;
    // The class byte.
    uint8_t GetType() const;
};

// A view of fixed size ARG_SIZE for class ARG_CLASS.
template <class View, int ARG_SIZE, uint8_t ARG_CLASS>
class CZelDtpPacket::TIfaceClass : public CZelDtpPacket::TPktInterface {
public:
    static constexpr int kSize = ARG_SIZE;
    static constexpr uint8_t kClass = ARG_CLASS;

    // Class byte at 0 and zeros at 1 to 3.
    void Init(const std::string &, unsigned, unsigned) override { InitPrefix(); }
    virtual int GetFullPacketSize() const;

    // A new packet of ARG_SIZE zero bytes with its view, initialised;
    // null (nothing left allocated) when memory runs out.
    static View *CreatePacketInterface(const std::string &locap, unsigned sender, unsigned receiver);

protected:
    void InitPrefix() {
        const uint8_t prefix[4] = {ARG_CLASS, 0, 0, 0};
        m_pPacket->PutBytes(0, prefix, 4);
    }
};

// Session header: OPEN, ACCEPT, REJECT, CLOSE (32 bytes).
template <class View, uint8_t ARG_CLASS>
class CZelDtpPacket::TSessHdr : public CZelDtpPacket::TIfaceClass<View, 32, ARG_CLASS> {
public:
    // Class, sender, receiver, locap, the client address from REMOTE_ADDR
    // and the bytes 9, 0, 24, 80.
    void Init(const std::string &locap, unsigned sender, unsigned receiver) override;
    unsigned GetSenderId() const;
    unsigned GetReceiverId() const;
};

// DezUR header: DezUrRead, DezUrSend (64 bytes plus texts).
template <class View, uint8_t ARG_CLASS>
class CZelDtpPacket::TDezUrHdr : public CZelDtpPacket::TIfaceClass<View, 64, ARG_CLASS> {
public:
    static constexpr int kGroupWidth = 8;
    static constexpr int kFormWidth = 24;
    unsigned GetReceiverId() const;
    void GetGroup(CZelName &group) const;   // 8 characters at 24
    void GetForm(CZelName &form) const;     // the name's size (at most 24) at 32
};

class CZelDtpPacket::THello : public CZelDtpPacket::TIfaceClass<THello, 16, kHello> {
public:
    static constexpr uint16_t kVersion = 33;
    // The whole HelloDTP: "tDTP", u16 33, 'W', 0, the locap (8).
    void Init(const std::string &locap, unsigned sender, unsigned receiver) override;
    void LoadMagic();                        // "tDTP" at 0
    void GetLocap(CZelName &locap) const;    // 8 characters at 8
};

class CZelDtpPacket::TOpen : public CZelDtpPacket::TSessHdr<TOpen, kOpen> {};
class CZelDtpPacket::TAccept : public CZelDtpPacket::TSessHdr<TAccept, kAccept> {};
class CZelDtpPacket::TClose : public CZelDtpPacket::TSessHdr<TClose, kClose> {};
class CZelDtpPacket::TReject : public CZelDtpPacket::TSessHdr<TReject, kReject> {
public:
    uint8_t GetReason() const;               // byte 29
};

class CZelDtpPacket::TPrst : public CZelDtpPacket::TIfaceClass<TPrst, 104, kPrst> {
public:
    // Fixed part; the receiver (the host's session id) at 4.
    void Init(const std::string &locap, unsigned sender, unsigned receiver) override;
    // Client octets at 8 (from REMOTE_ADDR), Unix user id at 12, user id
    // at 24, flag bytes at 60 to 63.
    void SetUser(const std::string &unixUserId, const std::string &userId,
                 uint8_t f1, uint8_t f2, uint8_t f3, uint8_t f4);
    // Transaction id at 96, CDA length at 104, the CDA from 108.
    void SetTransaction(const std::string &trid, const std::string &cda = std::string());
    // "#%07d" of n at 36.
    void SetPidValue(int n);
};

class CZelDtpPacket::TProk : public CZelDtpPacket::TIfaceClass<TProk, 20, kProk> {};
class CZelDtpPacket::TMsgo : public CZelDtpPacket::TIfaceClass<TMsgo, 4, kMsgo> {};

class CZelDtpPacket::TPren : public CZelDtpPacket::TIfaceClass<TPren, 28, kPren> {
public:
    void Init(const std::string &locap, unsigned sender, unsigned receiver) override;
    unsigned GetReceiverId() const;          // at 4
    char GetReason() const;                  // at 20
    unsigned GetCdaSize() const;             // at 24
    // Appends the CDA (from 28) to out; returns 1. A CDA length past the
    // end of the body throws CZelPktException 2.
    int GetCda(CBuffer &out) const;
    void SetReason(char reason);
};

class CZelDtpPacket::TMcso : public CZelDtpPacket::TIfaceClass<TMcso, 24, kMcso> {
public:
    static constexpr int kHeaderLength = 24;   // the MCS sub-packet starts here

    void Init(const std::string &locap, unsigned sender, unsigned receiver) override;
    unsigned GetReceiverId() const;          // at 4
    // Moves the packet's offset to the MCS sub-packet.
    void OffsetToQorBuffer();
    // A view for sending: 'I' screen input (TQorMsgi), 'F' a format request
    // (TQorScrFmt); any other letter throws CZelPktException 1.
    TMcsInterface *CreateMcsInterface(char function);
    // The view of a received MCS message; throws CZelPktException 4 for an
    // unknown sub-packet, a short one, or parameters that leave the body.
    TMcsInterface *QueryMcsInterface();
    // Letter of a 1-based function index ("OVIEAYLMRT01F"), '?' outside.
    static char GetMcsFunction(int index);
};

class CZelDtpPacket::TDezUrRead : public CZelDtpPacket::TDezUrHdr<TDezUrRead, kDezUrRead> {
public:
    void Init(const std::string &locap, unsigned sender, unsigned receiver) override;
    void SetGroup(const CZelName &group);
    void SetForm(const CZelName &form);
    // Lengths at 56 and texts from 64 in the order second, first, third,
    // data; each present text is followed by a NUL and its length counts
    // it. A text that would not fit the 16-bit length is cut (and logged).
    void SetValues(const char *first, const char *second, const char *third,
                   const char *data, int dataLength);
};

class CZelDtpPacket::TDezUrSend : public CZelDtpPacket::TDezUrHdr<TDezUrSend, kDezUrSend> {
public:
    unsigned GetHeaderTextLength() const;    // u16 at 60
    unsigned GetScreenTextLength() const;    // u16 at 62
    // The header text follows the fixed part; the screen text starts one
    // byte (its NUL) after it. Texts past the body throw CZelPktException 2.
    void GetHeaderText(std::string &text) const;
    void GetScreenText(std::string &text) const;
};

// --- template definitions ----------------------------------------------

template <class View, int ARG_SIZE, uint8_t ARG_CLASS>
int CZelDtpPacket::TIfaceClass<View, ARG_SIZE, ARG_CLASS>::GetFullPacketSize() const {
    if (!m_pPacket) {
        // A view without a packet is a programming error.
        std::abort();
    }
    return ARG_SIZE;
}

template <class View, int ARG_SIZE, uint8_t ARG_CLASS>
View *CZelDtpPacket::TIfaceClass<View, ARG_SIZE, ARG_CLASS>::CreatePacketInterface(
    const std::string &locap, unsigned sender, unsigned receiver) {
    try {
        std::unique_ptr<CZelDtpPacket> packet(new CZelDtpPacket(ARG_SIZE));
        if (packet->GetLength() != ARG_SIZE) return nullptr;
        TPktInterfacePtr<View> view(new View);
        view->AttachPacket(packet.release());   // the view's reference deletes it
        view->Init(locap, sender, receiver);
        return view.release();
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

#endif
