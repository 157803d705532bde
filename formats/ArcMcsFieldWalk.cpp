// The bounded walk over a field area.
#include "ArcMcsFieldWalk.h"

#include <algorithm>

#include "ArcMcsFormatHdr.h"
#include "ZelBuffer.h"
#include "logprint.h"

CArcMcsFieldWalk::CArcMcsFieldWalk(CBuffer &b, const CArcMcsFormatHdr &h)
    : m_Buffer(b),
      m_nFirstRow(h.GetFirstScreenRow()),
      m_nLastRow(h.GetLastScreenRow()),
      m_nLastColumn(h.GetLastScreenColumn()),
      m_nCells(std::max(h.GetScreenCells(), 0)) {
    m_Info.row = h.GetStartRow();
    m_Info.areaStart = m_Info.lineStart = b.GetOffset();
    m_Info.areaEnd = m_Info.areaStart + h.GetFormatSize();
    m_Info.sfsEmulation = h.GetSFSEmulationFormat();
    m_Info.headingIntensity = h.GetHeadingIntensity();
    m_Info.dataIntensity = h.GetDataIntensity();
    m_Info.negativeIntensity = h.GetNegativeIntensity();
    m_Info.errorIntensity = h.GetErrorIntensity();
    m_pFault = AreaProblem();
}

const char *CArcMcsFieldWalk::AreaProblem() const {
    return m_Info.areaEnd - m_Info.areaStart > m_Buffer.GetLength() ? "the field area runs past the end of the data"
                                                                    : nullptr;
}

bool CArcMcsFieldWalk::AtEnd() const { return m_Buffer.GetOffset() >= m_Info.areaEnd; }

std::unique_ptr<CArcMcsField> CArcMcsFieldWalk::Next() {
    if (m_pFault) return nullptr;
    if (m_nSteps++ == kMaxSteps) {
        m_pFault = "too many descriptor steps (looping repeats)";
        return nullptr;
    }
    std::unique_ptr<CArcMcsField> field = CArcMcsField::ConstructFromBuffer(m_Buffer, m_Info);
    if (!field) {
        m_pFault = m_Info.fault ? m_Info.fault : "unreadable descriptor";
        return nullptr;
    }
    if (const char *problem = PlaceProblem(*field)) {
        m_pFault = problem;
        return nullptr;
    }
    return field;
}

bool CArcMcsFieldWalk::TakesAPlace(const CArcMcsField &f) {
    const int kind = f.GetKind();
    if (kind == CArcMcsField::NewLine || kind == CArcMcsField::RepeatSpaces) return false;
    return f.IsRuntimeField() || kind == CArcMcsField::LogicalFieldBegin;
}

const char *CArcMcsFieldWalk::PlaceProblem(const CArcMcsField &f) {
    if (m_Info.dataOffset > kMaxHostData) return "the host data passes 65,535 bytes";
    if (!TakesAPlace(f)) return nullptr;
    if (++m_nPlaced > m_nCells) return "more fields than the screen has cells";
    if (f.GetRow() > m_nLastRow) return "a field starts beyond the screen's last row";
    if (f.GetColumn() > m_nLastColumn) return "a field starts beyond the screen's last column";
    // Its last cell, counting the screen's cells row by row from 0.
    const long long last = static_cast<long long>(f.GetRow() - m_nFirstRow) * m_nLastColumn + f.GetColumn() - 1 +
                           std::max(f.GetLength(), 1) - 1;
    if (last >= m_nCells) return "a field runs on past the screen's last cell";
    return nullptr;
}

Result FormatNotRead(const SafeString &name, const char *why) {
    std::string printable = logSafeText(name, name.find_last_not_of(' ') + 1);
    if (printable.empty()) printable = "(no name)";
    logPrintf("#Screen format %s not read: %s\n", printable.c_str(), why);
    return Result::FormatConversionError;
}
