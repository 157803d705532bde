// CArcSnapShot: the program information block (PIB) that the host sends
// with every program message and gets back with the next screen input.
//
// The gateway treats its fields as opaque and copies them unchanged; only
// the transaction id (at 8) means something here. Wire form, big-endian,
// texts blank-padded:
//     0  8 bytes            58 15 zero bytes       99  9 bytes
//     8  text (8): trid     73 3 pairs of i16     108  char
//    16  text (4)           85 char               109  3 bytes
//    20  text (8)           86 2 x i16            112 short form: 16 zeros
//    28  i32 (0x00FFFFFF)   90 text (8)           112 extended: text (8)
//    32  i32                98 char               120 extended: text (8)
//    36  i16, 38 i16                              128 extended: date "YYMMDDhhmmss"
//    40  7 bytes, 47 byte (never 0), 48 byte,     140 extended: 16 zeros
//    49  byte, 50 char, 51 3 bytes, 54 3 chars, 57 byte
// The short form is 128 bytes, the extended form 156.
#ifndef QOR_ARCSNAPSHOT_H
#define QOR_ARCSNAPSHOT_H

#include <cstdint>

#include "ZelName.h"

class CBuffer;

class CArcSnapShot {
public:
    static constexpr int kShortLength = 128;
    static constexpr int kExtendedLength = 156;

    CArcSnapShot();
    CArcSnapShot(const CArcSnapShot &) = default;
    CArcSnapShot &operator=(const CArcSnapShot &) = default;
    virtual ~CArcSnapShot() = default;

    // Texts blank, the word at 28 0x00FFFFFF, the byte at 47 1, all other
    // numbers 0.
    void Initialize();

    // The length of the form, 128 or 156. It is one value for the whole
    // process (the host sends one form), not per object.
    static int GetLength() { return m_nLen; }
    static void SetExtendedMode(bool extended) { m_nLen = extended ? kExtendedLength : kShortLength; }

    // Appends the wire form of the current length.
    void StoreInBuffer(CBuffer &buffer) const;
    // Reads the wire form from the buffer's offset, consuming it; length
    // (the bytes the sender gave) decides the form. Missing bytes read as
    // zero; a length below 128 is an assertion.
    void LoadFromBuffer(CBuffer &buffer, int length);

    const CZelName &GetTransactionId() const { return m_strTrid; }
    const CTime &GetDate() const { return m_date; }

private:
    static int m_nLen;

    uint8_t m_abHead[8];          // 0
    CZelName m_strTrid{8};        // 8
    CZelName m_strText16{4};      // 16
    CZelName m_strText20{8};      // 20
    int32_t m_nInt28;             // 28
    int32_t m_nInt32;             // 32
    int16_t m_sInt36;             // 36
    int16_t m_sInt38;             // 38
    uint8_t m_abBytes40[7];       // 40
    uint8_t m_bByte47;            // 47
    uint8_t m_bByte48;            // 48
    uint8_t m_bByte49;            // 49
    char m_cChar50;               // 50
    uint8_t m_abBytes51[3];       // 51
    char m_acChars54[3];          // 54
    uint8_t m_bByte57;            // 57
    int16_t m_asPairs73[6];       // 73
    char m_cChar85;               // 85
    int16_t m_asInts86[2];        // 86
    CZelName m_strText90{8};      // 90
    char m_cChar98;               // 98
    uint8_t m_abBytes99[9];       // 99
    char m_cChar108;              // 108
    uint8_t m_abBytes109[3];      // 109
    CZelName m_strText112{8};     // 112, extended form
    CZelName m_strText120{8};     // 120, extended form
    CTime m_date{CTime::kTimeSize};  // 128, extended form
};

#endif
