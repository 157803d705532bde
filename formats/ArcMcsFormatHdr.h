// The 48-byte header of a host screen format (.t3z file, or the same bytes
// in the host's screen-format reply), read field by field through CBuffer:
//
//   0 u16 DPS length        12 8 chars first name     34 u16 data bytes
//   2 u8  SFS indicators    20 8 chars format name    36 u16 error bytes
//   3 u8  (unused)          28 u8  format flags       38 u16 field-area size
//   4 u16 output count      29 u8  emulation flags    40 u8  heading intensity
//   6 u16 input count       30 u8  type               41 u8  data intensity
//   8 u8  rows              31 u8  start row          42 u8  negative intensity
//   9 u8  columns           32 u8  cursor-end row     43 u8  error intensity
//  10 u16 (kept)            33 u8  cursor-end column  44 4 bytes (kept)
//
// Words are big-endian; the names are blank-padded text, upper-cased as
// they are read. Rows and columns in the file count from 1.
#ifndef QOR_ARCMCSFORMATHDR_H
#define QOR_ARCMCSFORMATHDR_H

#include <cstdint>
#include <memory>

#include "SafeString.h"

class CBuffer;
class CArcTFDFormat;

class CArcMcsFormatHdr {
public:
    static constexpr int kSize = 48;
    // Format flags (byte 28) and emulation flags (byte 29).
    static constexpr uint8_t kEraseScreen = 0x01;
    static constexpr uint8_t kColorFormat = 0x20;
    static constexpr uint8_t kAllDataUnprotected = 0x40;
    static constexpr uint8_t kProceedDataWithTab = 0x80;
    static constexpr uint8_t kSfsEmulation = 0x20;

    CArcMcsFormatHdr() = default;            // every number 0, names empty
    // Reads the 48 bytes at the read offset and moves past them; the caller
    // makes sure they are there. The second argument is not used.
    CArcMcsFormatHdr(CBuffer &buffer, int unused);
    virtual ~CArcMcsFormatHdr() = default;

    bool IsSfsEmulationFormat() const { return (m_nEmulationFlags & kSfsEmulation) != 0; }

    // The screen a format of this header is laid out on, in the 1-based
    // rows and columns of the field walk: an SFS emulation format is always
    // 24 rows of 80 columns from row 1, any other has its rows from its
    // start row and its columns (at least one). Its cells: rows x columns.
    int GetFirstScreenRow() const { return IsSfsEmulationFormat() ? 1 : m_nStartRow; }
    int GetLastScreenRow() const { return IsSfsEmulationFormat() ? 24 : m_nStartRow + m_nRows - 1; }
    int GetLastScreenColumn() const { return IsSfsEmulationFormat() ? 80 : (m_nColumns > 0 ? m_nColumns : 1); }
    int GetScreenCells() const {
        return (GetLastScreenRow() - GetFirstScreenRow() + 1) * GetLastScreenColumn();
    }

    // The stored values, unchanged.
    const SafeString &GetName() const { return m_strName; }
    const SafeString &GetFirstName() const { return m_strFirstName; }
    int GetRows() const { return m_nRows; }
    int GetColumns() const { return m_nColumns; }
    int GetStartRow() const { return m_nStartRow; }
    int GetType() const { return m_nType; }
    int GetCursorEndRow() const { return m_nCursorEndRow; }        // 0-based
    int GetCursorEndColumn() const { return m_nCursorEndColumn; }  // 0-based
    int GetFormatSize() const { return m_nFormatSize; }
    int GetOutputCount() const { return m_nOutputCount; }
    int GetInputCount() const { return m_nInputCount; }
    int GetDataBytes() const { return m_nDataBytes; }
    int GetErrorBytes() const { return m_nErrorBytes; }
    int GetDpsLength() const { return m_nDpsLength; }
    int GetSFSIndicators() const { return m_nSfsIndicators; }
    bool GetColorFormat() const { return (m_nFormatFlags & kColorFormat) != 0; }
    bool GetAllDataUnprotected() const { return (m_nFormatFlags & kAllDataUnprotected) != 0; }
    bool GetEraseScreen() const { return (m_nFormatFlags & kEraseScreen) != 0; }
    bool GetProceedDataWithTab() const { return (m_nFormatFlags & kProceedDataWithTab) != 0; }
    bool GetSFSEmulationFormat() const { return IsSfsEmulationFormat(); }
    uint8_t GetHeadingIntensity() const { return m_nHeadingIntensity; }
    uint8_t GetDataIntensity() const { return m_nDataIntensity; }
    uint8_t GetNegativeIntensity() const { return m_nNegativeIntensity; }
    uint8_t GetErrorIntensity() const { return m_nErrorIntensity; }

protected:
    uint16_t m_nDpsLength = 0;
    uint8_t m_nSfsIndicators = 0;
    uint16_t m_nOutputCount = 0;
    uint16_t m_nInputCount = 0;
    uint8_t m_nRows = 0;
    uint8_t m_nColumns = 0;
    uint16_t m_nReserved10 = 0;
    SafeString m_strFirstName;
    SafeString m_strName;
    uint8_t m_nFormatFlags = 0;
    uint8_t m_nEmulationFlags = 0;
    uint8_t m_nType = 0;
    uint8_t m_nStartRow = 0;
    // Held 0-based (-1: none); the file has them 1-based.
    int m_nCursorEndRow = -1;
    int m_nCursorEndColumn = -1;
    uint16_t m_nDataBytes = 0;
    uint16_t m_nErrorBytes = 0;
    uint16_t m_nFormatSize = 0;
    uint8_t m_nHeadingIntensity = 0;
    uint8_t m_nDataIntensity = 0;
    uint8_t m_nNegativeIntensity = 0;
    uint8_t m_nErrorIntensity = 0;
    uint8_t m_aReserved44[4] = {0, 0, 0, 0};
};

// The header a converted format owns and asks for geometry, intensities
// and flags. The guarded setters look at the owner's fields.
class CArcTFDFormatHdrPeeker : public CArcMcsFormatHdr {
public:
    // The default header of an empty format: type ':', 24 rows of 80
    // columns from row 1, erase screen, all data unprotected, proceed data
    // with tab, intensities heading 3, data 2, negative 2, error 4.
    explicit CArcTFDFormatHdrPeeker(CArcTFDFormat *owner);
    CArcTFDFormatHdrPeeker(CBuffer &buffer, int unused, CArcTFDFormat *owner);

    // A copy owned by the caller (same owner).
    std::unique_ptr<CArcTFDFormatHdrPeeker> Clone() const { return std::make_unique<CArcTFDFormatHdrPeeker>(*this); }
    CArcTFDFormat *GetFormat() const { return m_pFormat; }
    void SetFormat(CArcTFDFormat *owner) { m_pFormat = owner; }

    void SetDpsLength(int v) { m_nDpsLength = static_cast<uint16_t>(v); }
    void SetSFSIndicators(int v) { m_nSfsIndicators = static_cast<uint8_t>(v); }
    void SetRows(int v) { m_nRows = static_cast<uint8_t>(v); }
    void SetColumns(int v) { m_nColumns = static_cast<uint8_t>(v); }
    void SetType(int v) { m_nType = static_cast<uint8_t>(v); }
    void SetOutputCount(int v) { m_nOutputCount = static_cast<uint16_t>(v); }
    void SetInputCount(int v) { m_nInputCount = static_cast<uint16_t>(v); }
    void SetDataBytes(int v) { m_nDataBytes = static_cast<uint16_t>(v); }
    void SetErrorBytes(int v) { m_nErrorBytes = static_cast<uint16_t>(v); }
    void SetHeadingIntensity(uint8_t v) { m_nHeadingIntensity = v; }
    void SetDataIntensity(uint8_t v) { m_nDataIntensity = v; }
    void SetNegativeIntensity(uint8_t v) { m_nNegativeIntensity = v; }
    void SetErrorIntensity(uint8_t v) { m_nErrorIntensity = v; }
    void SetEraseScreen(bool on) { SetFlag(kEraseScreen, on); }
    void SetAllDataUnprotected(bool on) { SetFlag(kAllDataUnprotected, on); }
    void SetProceedDataWithTab(bool on) { SetFlag(kProceedDataWithTab, on); }

    // Guarded setters (1 when the value was taken). The start row (1-based)
    // is refused when the first field would then lie above it. The
    // cursor-end row and column (0-based) are taken inside the format's
    // geometry; otherwise they become the first unprotected field's, or
    // stay as they are when there is none.
    int SetStartRow(int row);
    int SetCursorEndRow(int row);
    int SetCursorEndColumn(int column);

private:
    void SetFlag(uint8_t bit, bool on) {
        m_nFormatFlags = static_cast<uint8_t>(on ? (m_nFormatFlags | bit) : (m_nFormatFlags & ~bit));
    }

    CArcTFDFormat *m_pFormat = nullptr;     // owner, not owned
};

#endif
