// CZelErrorLoader: before an error or program-end page is shown, adds the
// err.* fields to the page's data record: the administrator text, the
// result code and one constant per named result code, so that a template
// can print the code and compare it against the names.
#ifndef QOR_ZELERRORLOADER_H
#define QOR_ZELERRORLOADER_H

#include "Result.h"

class CDataRecord;

class CZelErrorLoader {
public:
    explicit CZelErrorLoader(CDataRecord *record) : m_pRecord(record) {}   // not owned

    // Adds, in this order, "err.administrator" X(50) (default: the text),
    // "err.code" X(6) (default: the code) and an X(6) item per named
    // result code (default: its value). 0, or -3002 without a record.
    Result LoadErrorFields(Result code, const char *administrator);

private:
    CDataRecord *m_pRecord;
};

#endif
