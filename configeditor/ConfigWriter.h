// Saving the posted form as the configuration file.
//
// The file is rewritten whole: the general settings, locaps, transactions
// and application groups from the form, between fixed comment blocks.
// Settings the form does not carry (LogLevel, the traces, CacheCleanup,
// MaxUsage, CharacterSet, EnableDezUr, Setenv, an application group's SID
// and DEZUR, a transaction's LOG when not posted) are taken over from the
// file being replaced; LogFile and PidPool are written when that file had them or the
// form changed them.
//
// A save is refused, and nothing is written, when the body was cut, the
// file being replaced is broken (it breaks off part-way or holds a name no
// XML name may be: what the reader could not take would be lost), a
// general setting other than LogLevel is missing, a number is no whole
// number within the bounds the gateway's reader applies (a locap's port
// from 1 to 65535, a row count from 0 to 100000), or any value to be
// written holds a double quote or a control character or is longer than
// the reader takes whole. The file is saved as FileSave.h says; a failed
// save leaves the old text.
#ifndef QOR_CONFIGWRITER_H
#define QOR_CONFIGWRITER_H

#include <cstddef>
#include <string>

#include "EditorRequest.h"

class CZelConfigParser;

// Longest value the configuration reader takes whole.
constexpr std::size_t kMaxConfigValue = 2559;

// Writes the request's "ConfigFile", then sets the session table's
// reconfiguration stamp when a gateway table exists in the working
// directory. True when the file was written (stamped or not); false, with
// the reason in *why when given, when nothing was written.
bool WriteConfigFile(const RequestMap_t &request, bool bodyComplete = true,
                     std::string *why = nullptr);

// The text of the file for a request; `previous` is the file being
// replaced, read after Reset (an empty, reset model for a new file). False,
// with the reason, when a value cannot be written.
bool BuildConfigText(const RequestMap_t &request, const CZelConfigParser &previous,
                     std::string &text, std::string &why);

#endif
