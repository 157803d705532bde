// Whether a save comes from a page of the editor's own server.
//
// A page on any other site can make an administrator's browser post a
// form to the editor. Browsers name the page a post comes from in the
// Origin header (older ones only in Referer); a save is taken only when
// that names the host the request came to. A request with neither header
// does not come from such a page (a script or a command-line client); it
// is taken.
#ifndef QOR_REQUESTORIGIN_H
#define QOR_REQUESTORIGIN_H

#include <string>

struct RequestSource {
    std::string origin;    // HTTP_ORIGIN
    std::string referer;   // HTTP_REFERER
    std::string host;      // HTTP_HOST, else SERVER_NAME[:SERVER_PORT]
};

// True when the Origin (or, without one, the Referer) names `host`, or
// when neither is given; false, with the reason, otherwise (an Origin of
// "null" included). Scheme default ports (80, 443) are ignored and names
// compare without regard to case.
bool IsSameOrigin(const RequestSource &source, std::string &why);

#endif
