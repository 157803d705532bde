// CZelMCSConverter: turns a host screen format (the bytes of a .t3z file,
// or the same bytes inside the host's screen-format reply) into the page
// template (.htx) and field-information file (.t3i) named after the format.
//
// The gateway keeps one converter in its DTP protocol object and converts a
// screen on the spot when its template is missing; fmtconv converts files.
//
// The conversion library is not part of this build yet: Convert answers
// FormatGeneric (-2000) and writes nothing, so templates must exist ahead
// of time (and the gateway closes a host session whose screen has none).
// The settings are kept already, as the callers set them.
#ifndef QOR_ZELMCSCONVERTER_H
#define QOR_ZELMCSCONVERTER_H

#include <cstdint>
#include <string>

#include "Result.h"
#include "SafeString.h"

class CBuffer;

class CZelMCSConverter {
public:
    // Field-control-modification support of the converted pages.
    enum FccModsLevel : int32_t { FccModsNone = 0, FccModsLimited = 1, FccModsFull = 2 };

    CZelMCSConverter() = default;
    CZelMCSConverter(const CZelMCSConverter &) = delete;
    CZelMCSConverter &operator=(const CZelMCSConverter &) = delete;
    virtual ~CZelMCSConverter() = default;

    // Directory of both output files; "/" is appended when missing, an empty
    // directory means the working directory.
    void SetOutputDirectory(const SafeString &directory);
    void SetAdditionalHTMLFile(const SafeString &path) { m_strAdditionalHtml = path; }
    void SetStylesheetFile(const SafeString &path) { m_strStylesheet = path; }
    void SetFccModsStyle(FccModsLevel level) { m_nFccModsLevel = level; }

    const SafeString &GetOutputDirectory() const { return m_strOutputDirectory; }
    const SafeString &GetAdditionalHTMLFile() const { return m_strAdditionalHtml; }
    const SafeString &GetStylesheetFile() const { return m_strStylesheet; }
    FccModsLevel GetFccModsStyle() const { return m_nFccModsLevel; }

    // Base name of both output files of a format (".htx" and ".t3i" are
    // added): its name up to the first white space, lower-cased, with every
    // "_" turned into "a". The gateway holds a screen's format name
    // upper-cased with "_" as "A" and looks for its page under that name in
    // lower case, so converted files are named the same way to be found.
    static std::string FileBaseName(const std::string &formatName);

    // Converts the format that starts at the buffer's read offset.
    Result Convert(CBuffer &format);
    // Converts a .t3z file.
    Result Convert(const std::string &path);

private:
    SafeString m_strOutputDirectory;
    SafeString m_strAdditionalHtml;
    SafeString m_strStylesheet;
    FccModsLevel m_nFccModsLevel = FccModsNone;
};

#endif
