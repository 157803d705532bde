// CZelMCSConverter: turns a host screen format (the bytes of a .t3z file,
// or the same bytes inside the host's screen-format reply) into the page
// template (.htx) and field-information file (.t3i) of that screen.
//
// The gateway keeps one converter in its DTP protocol object and converts a
// screen on the spot when its template is missing, under the page name it
// asked for; fmtconv converts files under the format's own name.
//
//   CZelMCSConverter c;
//   c.SetOutputDirectory("/var/cache");          // "/" is added
//   c.SetFccModsStyle(FccModsLimited);
//   Result r = c.Convert("order01.t3z");         // order01.t3i, order01.htx
//
// A format that no screen of its header's geometry can be is not converted
// (see CArcMcsFieldWalk and CArcTFDFormatSaver::PageSizeLimit), so a few
// bytes from a host cannot make a page of megabytes.
//
// Both files appear whole or not at all: they are written under temporary
// names in the output directory and renamed into place, the field file
// first, so a gateway worker never reads half a page or pairs a new page
// with an old field file.
#ifndef QOR_ZELMCSCONVERTER_H
#define QOR_ZELMCSCONVERTER_H

#include <memory>
#include <string>

#include "ArcTFDFormat.h"
#include "Result.h"
#include "SafeString.h"

class CBuffer;

// Extensions of the two output files.
extern const char g_IntConnHTXExt[];   // ".htx"
extern const char g_IntConnT3IExt[];   // ".t3i"

class CZelMCSConverter {
public:
    CZelMCSConverter();
    CZelMCSConverter(const CZelMCSConverter &) = delete;
    CZelMCSConverter &operator=(const CZelMCSConverter &) = delete;
    virtual ~CZelMCSConverter();

    // Directory of both output files; "/" is appended when missing, an empty
    // directory means the working directory.
    void SetOutputDirectory(const SafeString &directory);
    // A file whose text is copied into every page (empty: none).
    void SetAdditionalHTMLFile(const SafeString &path) { m_strAdditionalHtml = path; }
    // The page's style-sheet link (empty: a small built-in style block).
    void SetStylesheetFile(const SafeString &path) { m_strStylesheet = path; }
    // Chooses the pages' field-control-modification support; level 0 until
    // set.
    void SetFccModsStyle(FccModsLevel level) { m_pFormat->SetFccModsStyle(level); }

    const SafeString &GetOutputDirectory() const { return m_strOutputDirectory; }
    const SafeString &GetAdditionalHTMLFile() const { return m_strAdditionalHtml; }
    const SafeString &GetStylesheetFile() const { return m_strStylesheet; }
    FccModsLevel GetFccModsStyle() const { return m_pFormat->GetFccModsStyle(); }
    // The format of the last conversion.
    const CArcTFDFormat &GetFormat() const { return *m_pFormat; }

    // Base name of both output files (".htx" and ".t3i" are added) of a
    // screen or format name: up to the first white space, lower-cased, with
    // every "_" as "a". The gateway looks for a screen's page under the same
    // name, so a converted page is always found.
    static std::string FileBaseName(const std::string &name);

    // Converts the format at the buffer's read offset into files named
    // after the format. Success; FormatConversionError when the bytes are no
    // sound format or a file cannot be written (logged; nothing new is in
    // place then).
    Result Convert(CBuffer &format);
    // The same, naming the files after `screenName` (the gateway's page
    // name for the screen whose format this is).
    Result Convert(CBuffer &format, const std::string &screenName);
    // Converts a .t3z file: Success; FormatUnknownError when it cannot be
    // read or is no sound format; FormatFileReadError when reading it
    // fails half-way; FormatConversionError when a file cannot be written.
    Result Convert(const std::string &path);

private:
    // unreadable: the result for bytes that are no sound format.
    Result ConvertAs(CBuffer &format, const std::string *screenName, Result unreadable);

    SafeString m_strOutputDirectory;
    SafeString m_strAdditionalHtml;
    SafeString m_strStylesheet;
    std::unique_ptr<CArcTFDFormat> m_pFormat;
};

#endif
