// Request handling of the configuration editor: the posted form as a map,
// and the dispatch on its "nextaction" field.
#ifndef QOR_EDITORREQUEST_H
#define QOR_EDITORREQUEST_H

#include <cstddef>
#include <ctime>
#include <iosfwd>
#include <map>
#include <string>
#include <string_view>

#include "RequestOrigin.h"

// Field name -> field value, compared byte-wise.
using RequestMap_t = std::map<std::string, std::string>;

// The most of a request body that is read; a longer body is cut there and
// a save from it is refused.
constexpr std::size_t kMaxRequestBody = 1024 * 1024;

// Splits a body at "=" and "&": the name runs up to "=", the value up to
// "&" or the end (a last pair needs no "&"); a name without "=" ends the
// parse. Values are decoded ("+" gives a blank, as browsers send blanks;
// "%" and the two characters after it give one byte, read as strtol reads
// base 16, no digit giving 0); names are not. A repeated name keeps its
// first value. The map is emptied first.
void ParseRequestBody(std::string_view body, RequestMap_t &map);

// A save's time as the form shows it: local "YYYY-MM-DD HH:MM:SS".
std::string SaveTimeText(time_t t);

// Reads the request body from `in` (at most kMaxRequestBody bytes) and
// parses it. False when the body was longer and has been cut; `out` and
// `err` are not used.
bool ParseRequest(std::istream &in, std::ostream &out, std::ostream &err, RequestMap_t &map);

// What the web server tells of a request besides its body.
struct RequestContext {
    bool bodyComplete = true;   // false: the body was cut at kMaxRequestBody
    RequestSource source;       // the page the request was posted from
};

// Runs the action the form asks for and writes the page body to `out`:
// no "nextaction" or "read_file" shows the form, "write_file" saves the
// file and then shows the form with a line that says when it was saved,
// anything else is an error heading. A save is refused when the body was
// cut or the form was posted from a page of another site (RequestOrigin.h).
void DispatchRequest(std::istream &in, std::ostream &out, std::ostream &err,
                     const RequestMap_t &map, const RequestContext &context = RequestContext());

#endif
