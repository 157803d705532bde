// CIcParserIntegrator: binds the template toolkit to the gateway. It works
// in one of two modes, chosen by its constructor:
//  - configuration mode reads the XML configuration file into a
//    CZelConfigParser: every element of the document, at any depth and in
//    document order, is applied, then the read is completed
//    (IcParserIntegrator.cpp);
//  - page mode (finding a page template, filling it with the screen data
//    and session values, reading a submitted form back) belongs to the
//    gateway's page filling and joins this class beside configuration mode:
//    its constructor, state and OpenHtmlFile, with OpenFile passing page
//    requests on to it.
// The class statics register the err.* result constants for templates at
// start-up and release the toolkit's state at exit.
//
// Nothing is thrown out of the integrator: failures are Result codes.
#ifndef QOR_ICPARSERINTEGRATOR_H
#define QOR_ICPARSERINTEGRATOR_H

#include <cstdio>
#include <string>

#include "Result.h"

class CZelConfigParser;

class CIcParserIntegrator {
public:
    // Configuration mode; the model belongs to the caller.
    explicit CIcParserIntegrator(CZelConfigParser *config) : m_pConfig(config) {}
    virtual ~CIcParserIntegrator() = default;
    CIcParserIntegrator(const CIcParserIntegrator &) = delete;
    CIcParserIntegrator &operator=(const CIcParserIntegrator &) = delete;

    bool IsConfigMode() const { return m_pConfig != nullptr; }

    // Configuration mode: OpenConfigFile(name); send and loadData belong to
    // page mode. ParserGeneric without a model.
    Result OpenFile(const std::string &name, char /*send*/, char /*loadData*/) {
        return m_pConfig ? OpenConfigFile(name) : Result::ParserGeneric;
    }

    // Reads the file into the model (the caller calls Reset first). Success,
    // also when the XML breaks off part-way (what was read before the fault
    // is applied; see GetLastParseStatus); ParserFileNotFound when the file
    // cannot be opened or is not a regular file: the model is then unchanged.
    Result OpenConfigFile(const std::string &name);
    // The same over a stream the caller opened and closes.
    Result ReadConfigStream(FILE *stream, const std::string &name);
    // The XML parser's result of the last read: 0, or its negative code
    // when the document broke off and later settings were not read.
    int GetLastParseStatus() const { return m_nParseStatus; }

    // Registers every err.* result constant that templates may test as a
    // template integer constant; call before the first ordinary put. 0.
    static int InitXFcgi();
    // Clears the output variables, empties the template cache and frees
    // the toolkit's field tables. 0.
    static int ExitXFcgi();

private:
    CZelConfigParser *m_pConfig = nullptr;   // not null: configuration mode
    int m_nParseStatus = 0;
};

#endif
