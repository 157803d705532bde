// Screen-format converter: settings, file names and the conversions.
#include "ZelMCSConverter.h"

#include <cctype>
#include <cstdio>
#include <exception>
#include <vector>

#include "ArcTFDFormatSaver.h"
#include "ArcTFDIntConnFilesInfo.h"
#include "ZelBuffer.h"
#include "logprint.h"
#include "regularfile.h"

const char g_IntConnHTXExt[] = ".htx";
const char g_IntConnT3IExt[] = ".t3i";

namespace {

constexpr size_t kMaxFileSize = 16u << 20;

}  // namespace

CZelMCSConverter::CZelMCSConverter() : m_pFormat(new CArcTFDFormat) {}

CZelMCSConverter::~CZelMCSConverter() = default;

void CZelMCSConverter::SetOutputDirectory(const SafeString &directory) {
    m_strOutputDirectory = directory;
    if (!m_strOutputDirectory.empty() && m_strOutputDirectory.back() != '/') m_strOutputDirectory += '/';
}

std::string CZelMCSConverter::FileBaseName(const std::string &name) {
    std::string base;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isspace(u)) break;
        base += c == '_' ? 'a' : static_cast<char>(std::tolower(u));
    }
    return base;
}

Result CZelMCSConverter::Convert(CBuffer &format) {
    return ConvertAs(format, nullptr, Result::FormatConversionError);
}

Result CZelMCSConverter::Convert(CBuffer &format, const std::string &screenName) {
    return ConvertAs(format, &screenName, Result::FormatConversionError);
}

Result CZelMCSConverter::ConvertAs(CBuffer &format, const std::string *screenName, Result unreadable) {
    try {
        if (m_pFormat->ReadFromBuffer(format) != Result::Success) return unreadable;
        m_pFormat->SetIntConnFileHTMLType(CArcTFDFormatSaver::LayoutTable);
        m_pFormat->SetHtmlUseStyleSheet(1);
        m_pFormat->SetHtmlStyleSheetPath(m_strStylesheet);

        const std::string base = FileBaseName(screenName ? *screenName : m_pFormat->GetFormatName());
        // A screen name must pass what a format name passes as it is read.
        if (CArcTFDFormat::FileNameProblem(base)) {
            logPrintf("#Converter: no file name can be made of '%s'\n",
                      screenName ? screenName->c_str() : m_pFormat->GetFormatName().c_str());
            return Result::FormatConversionError;
        }
        CArcTFDIntConnFilesInfo files;
        files.SetT3IPath(m_strOutputDirectory + base + g_IntConnT3IExt);
        files.SetHTXPath(m_strOutputDirectory + base + g_IntConnHTXExt);
        CArcTFDFormatSaver saver(m_pFormat.get());
        saver.SetAdditionalHTMLFileName(m_strAdditionalHtml);
        return saver.WriteIntConnFile(&files);
    } catch (const std::exception &e) {
        logPrintf("#Converter: screen format not converted: %s\n", e.what());
    } catch (...) {
        logPrintf("#Converter: screen format not converted\n");
    }
    return Result::FormatConversionError;
}

Result CZelMCSConverter::Convert(const std::string &path) {
    // A FIFO or a device named as a format would hold the converter.
    std::string why;
    UniqueFile in = OpenRegularFile(path, &why);
    if (!in) {
        logPrintf("#Converter: %s cannot be opened: %s\n", path.c_str(), why.c_str());
        return Result::FormatUnknownError;
    }
    // Screen formats are small: a file far larger is no screen format.
    std::vector<char> bytes;
    char chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in.get())) > 0;) {
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (bytes.size() > kMaxFileSize) {
            logPrintf("#Converter: %s is too large for a screen format\n", path.c_str());
            return Result::FormatUnknownError;
        }
    }
    if (std::ferror(in.get())) {
        logPrintf("#Converter: %s cannot be read\n", path.c_str());
        return Result::FormatFileReadError;
    }
    CBuffer buffer(bytes.data(), static_cast<int>(bytes.size()));
    return ConvertAs(buffer, nullptr, Result::FormatUnknownError);
}
