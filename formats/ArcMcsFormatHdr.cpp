// Reading the screen-format header, the default header, guarded setters.
#include "ArcMcsFormatHdr.h"

#include "ArcTFDDrawableField.h"
#include "ArcTFDFormat.h"
#include "ZelBuffer.h"

namespace {

// An 8-character blank-padded name, upper-cased (ASCII letters only, so
// that the result does not depend on the locale).
SafeString ReadName(CBuffer &b) {
    std::string s;
    b.GetCobolString(s, 8, 1);
    for (char &c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

}  // namespace

CArcMcsFormatHdr::CArcMcsFormatHdr(CBuffer &b, int) {
    unsigned char unused = 0, cursorRow = 0, cursorColumn = 0;
    b >> m_nDpsLength >> m_nSfsIndicators >> unused >> m_nOutputCount >> m_nInputCount >> m_nRows >>
        m_nColumns >> m_nReserved10;
    m_strFirstName = ReadName(b);
    m_strName = ReadName(b);
    b >> m_nFormatFlags >> m_nEmulationFlags >> m_nType >> m_nStartRow >> cursorRow >> cursorColumn >>
        m_nDataBytes >> m_nErrorBytes >> m_nFormatSize >> m_nHeadingIntensity >> m_nDataIntensity >>
        m_nNegativeIntensity >> m_nErrorIntensity;
    for (uint8_t &r : m_aReserved44) b >> r;
    m_nCursorEndRow = cursorRow - 1;
    m_nCursorEndColumn = cursorColumn - 1;
}

CArcTFDFormatHdrPeeker::CArcTFDFormatHdrPeeker(CArcTFDFormat *owner) : m_pFormat(owner) {
    m_nType = ':';
    m_nRows = 24;
    m_nColumns = 80;
    m_nStartRow = 1;
    m_nFormatFlags = kAllDataUnprotected | kEraseScreen | kProceedDataWithTab;
    m_nNegativeIntensity = 2;
    m_nDataIntensity = 2;
    m_nHeadingIntensity = 3;
    m_nErrorIntensity = 4;
}

CArcTFDFormatHdrPeeker::CArcTFDFormatHdrPeeker(CBuffer &buffer, int unused, CArcTFDFormat *owner)
    : CArcMcsFormatHdr(buffer, unused), m_pFormat(owner) {}

int CArcTFDFormatHdrPeeker::SetStartRow(int row) {
    if (m_pFormat) {
        const CArcTFDDrawableField *first = m_pFormat->GetNextFieldFromPos(0, 0);
        if (first && first->GetRow() + 1 < row) return 0;
    }
    m_nStartRow = static_cast<uint8_t>(row);
    return 1;
}

int CArcTFDFormatHdrPeeker::SetCursorEndRow(int row) {
    if (!m_pFormat || (row >= m_pFormat->GetFormatTop() && row <= m_pFormat->GetFormatBottom())) {
        m_nCursorEndRow = row;
        return 1;
    }
    if (const CArcTFDDrawableField *f = m_pFormat->GetNextUnprotectedFieldFromPos(0, 0))
        m_nCursorEndRow = f->GetRow();
    return 0;
}

int CArcTFDFormatHdrPeeker::SetCursorEndColumn(int column) {
    if (!m_pFormat || (column >= m_pFormat->GetFormatLeft() && column <= m_pFormat->GetFormatRight())) {
        m_nCursorEndColumn = column;
        return 1;
    }
    if (const CArcTFDDrawableField *f = m_pFormat->GetNextUnprotectedFieldFromPos(0, 0))
        m_nCursorEndColumn = f->GetColumn();
    return 0;
}
