// Screen-format converter: settings, and the conversion entry points that
// answer "not available" until the conversion library is built in.
#include "ZelMCSConverter.h"

#include <cctype>

#include "ZelBuffer.h"
#include "logprint.h"

void CZelMCSConverter::SetOutputDirectory(const SafeString &directory) {
    m_strOutputDirectory = directory;
    if (!m_strOutputDirectory.empty() && m_strOutputDirectory.back() != '/') m_strOutputDirectory += '/';
}

std::string CZelMCSConverter::FileBaseName(const std::string &formatName) {
    std::string base;
    for (char c : formatName) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isspace(u)) break;
        base += c == '_' ? 'a' : static_cast<char>(std::tolower(u));
    }
    return base;
}

Result CZelMCSConverter::Convert(CBuffer &format) {
    if (logCtrlFlgs & LOG_DETAIL)
        logPrintf("#Converter: %d bytes of screen format not converted: no converter in this build\n",
                  format.GetLength());
    return Result::FormatGeneric;
}

Result CZelMCSConverter::Convert(const std::string &path) {
    if (logCtrlFlgs & LOG_DETAIL)
        logPrintf("#Converter: %s not converted: no converter in this build\n", path.c_str());
    return Result::FormatGeneric;
}
