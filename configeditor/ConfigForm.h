// The configuration form: the file named by the request's "ConfigFile",
// shown as one HTML form whose input names are the fields the writer
// (ConfigWriter.h) reads back.
#ifndef QOR_CONFIGFORM_H
#define QOR_CONFIGFORM_H

#include <iosfwd>
#include <string>

#include "EditorRequest.h"
#include "Result.h"

class CZelConfigParser;

// Writes the form to `out`; false (after "<br>Can't read config file!<br>")
// when the file cannot be read. savedAt, when not empty, is the time of the
// save just made, shown in a line above the settings. A broken file is
// shown with a warning that says what is wrong with it.
bool ShowConfigEditForm(std::istream &in, std::ostream &out, std::ostream &err,
                        const RequestMap_t &request, const std::string &savedAt = std::string());

// Resets the model and reads the request's "ConfigFile" into it. False when
// the field is absent or the file cannot be opened. A broken file (it breaks
// off part-way, holds a name no XML name may be, or could not be read to
// its end) still counts as read, with what could be read; parseStatus
// (when given) then receives the parser's negative code, else 0, and fault
// what the fault is ("line N: ...").
bool ReadConfigFile(const RequestMap_t &request, CZelConfigParser &model,
                    int *parseStatus = nullptr, std::string *fault = nullptr);

// The same for a path: Success, or ParserFileNotFound.
Result ReadConfigPath(const std::string &path, CZelConfigParser &model, int *parseStatus = nullptr,
                      std::string *fault = nullptr);

#endif
