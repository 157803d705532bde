// The bounded walk over a field area.
#include "ArcMcsFieldWalk.h"

#include "ArcMcsFormatHdr.h"
#include "ZelBuffer.h"
#include "logprint.h"

CArcMcsFieldWalk::CArcMcsFieldWalk(CBuffer &b, const CArcMcsFormatHdr &h) : m_Buffer(b) {
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
    if (!field) m_pFault = m_Info.fault ? m_Info.fault : "unreadable descriptor";
    return field;
}

Result FormatNotRead(const SafeString &name, const char *why) {
    std::string printable = logSafeText(name, name.find_last_not_of(' ') + 1);
    if (printable.empty()) printable = "(no name)";
    logPrintf("#Screen format %s not read: %s\n", printable.c_str(), why);
    return Result::FormatConversionError;
}
