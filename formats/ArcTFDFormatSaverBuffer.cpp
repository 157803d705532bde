// Writing a converted format back as screen-format field descriptors.
#include "ArcTFDDataField.h"
#include "ArcTFDFieldMeta.h"
#include "ArcTFDFormat.h"
#include "ArcTFDFormatSaver.h"
#include "ZelBuffer.h"

namespace {

// New-line descriptor: the rest of the row is empty.
int NewLine(CBuffer &out) {
    out << static_cast<uint8_t>(0) << static_cast<uint8_t>(20) << static_cast<uint8_t>(0);
    return 3;
}

// Blank columns as repeat-spaces bytes of at most 63 each.
int Spaces(CBuffer &out, int n) {
    int bytes = 0;
    for (; n > 0; n -= 63, ++bytes) out << static_cast<uint8_t>(0xC0 + (n > 63 ? 63 : n));
    return bytes;
}

// A definition descriptor: [length][31][kind] and its text.
int Definition(CBuffer &out, int kind, const std::string &text) {
    const int n = static_cast<int>(text.size() > 255 ? 255 : text.size());
    out << static_cast<uint8_t>(n) << static_cast<uint8_t>(31) << static_cast<uint8_t>(kind);
    out.AddChars(text.data(), n);
    return 3 + n;
}

}  // namespace

int CArcTFDFormatSaver::SaveFieldsIntoBuffer(CBuffer &out) {
    if (!m_pFormat) return 0;
    if (m_Sorted.empty()) SortFields(0);
    CArcTFDFormatHdrPeeker *header = m_pFormat->GetFormatHdrPeeker();
    const bool sfs = header && header->GetSFSEmulationFormat();
    const CArcTFDFormat::SFSErrIndData_t &error = m_pFormat->GetSFSErrIndData();
    // The host's error line lies on the row before the one the error data
    // names (0-based here).
    const int errorLineRow = error.IsDefined() && error.errorRow >= 0 ? error.errorRow - 2 : -1;
    int saved = 0;

    if (sfs) {
        std::string outputs;
        for (int indicator : m_pFormat->GetSFSOutputInds()) outputs += static_cast<char>(indicator);
        int definitions = 0;
        if (!outputs.empty()) {
            saved += Definition(out, 1, outputs);
            ++definitions;
        }
        if (error.IsDefined()) {
            saved += Definition(out, 3, std::string(1, static_cast<char>(error.indicator)));
            ++definitions;
        }
        const CArcTFDFormat::SFSNonDispIndData_t &nonDisplay = m_pFormat->GetSFSNonDispIndData();
        if (nonDisplay.IsDefined()) {
            saved += Definition(out, nonDisplay.bidirectional ? 4 : 5, nonDisplay.indicators);
            ++definitions;
        }
        if (header) header->SetSFSIndicators(definitions);
    }
    if (const CArcTFDColorTable *colours = m_pFormat->GetColorTable()) saved += colours->SaveIntoBuffer(out);

    // The row being written and the column after the last field on it.
    int row = m_pFormat->GetFormatTop(), end = 0;
    CArcTFDSFSErrorField errorLine(nullptr, m_pFormat);
    auto endRow = [&]() {
        if (sfs && row == errorLineRow) saved += errorLine.SaveIntoBuffer(out);
        saved += NewLine(out);
        ++row;
        end = 0;
    };
    int dataBytes = 0, errorBytes = 0, dataFields = 0;
    for (const CArcTFDDrawableField *f : m_Sorted) {
        while (row < f->GetRow()) endRow();
        saved += Spaces(out, f->GetColumn() - end);
        switch (CArcTFDDrawableFieldMeta::GetType(f)) {
        case CArcTFDDrawableField::TypeError: errorBytes += f->GetLength(); break;
        case CArcTFDDrawableField::TypeData:
        case CArcTFDDrawableField::TypeNumeric:
            dataBytes += f->GetCobolLength();
            ++dataFields;
            break;
        default: break;
        }
        saved += f->SaveIntoBuffer(out);
        end = f->GetColumn() + f->GetLength();
    }
    if (sfs)
        while (row <= errorLineRow) endRow();
    if (header) {
        header->SetDataBytes(dataBytes);
        header->SetErrorBytes(errorBytes);
        header->SetOutputCount(dataFields);
        header->SetInputCount(dataFields);
    }
    return saved;
}
