// Reading a screen format into host fields and help.
#include "ArcMcsFormat.h"

#include "ArcMcsFieldWalk.h"
#include "ZelBuffer.h"

void CArcMcsFormat::Clear() {
    m_Header = CArcMcsFormatHdr();
    m_Fields.clear();
    m_Help = CArcMcsHelp();
}

const CArcMcsField *CArcMcsFormat::GetField(int i) const {
    return i >= 0 && i < GetFieldCount() ? m_Fields[static_cast<size_t>(i)].get() : nullptr;
}

Result CArcMcsFormat::ReadFromBuffer(CBuffer &b) {
    Clear();
    if (b.GetLength() < CArcMcsFormatHdr::kSize)
        return FormatNotRead(m_Header.GetName(), "shorter than the 48-byte header");
    m_Header = CArcMcsFormatHdr(b, 0);
    CArcMcsFieldWalk walk(b, m_Header);
    if (const char *problem = walk.AreaProblem()) return FormatNotRead(m_Header.GetName(), problem);
    while (!walk.AtEnd()) {
        std::unique_ptr<CArcMcsField> field = walk.Next();
        if (!field) return FormatNotRead(m_Header.GetName(), walk.Fault());
        if (field->IsRuntimeField()) m_Fields.push_back(std::move(field));
    }
    if (CArcTFDHelp::FindBlock(b)) m_Help.ReadFromBuffer(b);
    return Result::Success;
}
