// Conversation: checks of a submitted form before it reaches the host.
//
// Input the host must not get is not sent: the session stays as it is and
// its current screen (as the host last sent it, its fields showing what the
// user typed) is shown again, with the reason in mcs.error. That covers a
// form whose McsSize or McsCount lies outside the current screen (and the
// page's own room), a form of an earlier screen (sent again after Reload
// or Back: the host would take it as input for the screen it shows now), a
// form for another host than the one the session lives on, and characters
// the host's character set cannot hold: those a browser sends as character
// references, and, for ISO-8859-1, which browsers take for windows-1252,
// the bytes 0x80 to 0x9F.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "ArcMcsData.h"
#include "ZelConversation.h"
#include "logprint.h"
#include "xfcgicharref.h"
#include "xfcgiinput.h"

namespace {

constexpr int kHeader = CArcMcsHdr::kHeaderLength;

}  // namespace

long CZelConversation::FirstRefusedCharacter(const char *value, bool latin1) {
    // What windows-1252, which browsers use for a page in ISO-8859-1, has
    // at 0x80 to 0x9F (its five unused places as they stand).
    static const uint16_t kWindows1252[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    const std::string_view text(value ? value : "");
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (latin1 && c >= 0x80 && c <= 0x9F) return kWindows1252[c - 0x80];
        long code = 0;
        // A reference the user typed as text goes on to the host as typed.
        if (c == '&' && xFcgiCharRef(text.substr(i), code) && xFcgiRefusedRef(code, latin1)) return code;
    }
    return -1;
}

bool CZelConversation::IsLatin1(const std::string &name) {
    return xFcgiIsLatin1Name(name);
}

void CZelConversation::SetCharacterSet(const std::string &name) {
    m_strCharacterSet = name;
    m_bRefuseC1 = IsLatin1(name);
}

bool CZelConversation::SamePage(const std::string &postedName, const std::string &headerName) {
    // Page names ignore case and take "_" as "A", as SetFormat does.
    return PageName(postedName) == PageName(headerName);
}

std::string CZelConversation::CheckSubmittedScreen(const CArcMcsHdr *shown) const {
    // A local subscreen is the gateway's own page over the current screen;
    // a session without a stored screen (a DezUR exchange) has nothing to
    // compare with.
    if (shown && m_strLocalSubscreen.empty() && !SamePage(m_strFormatName, shown->GetName())) {
        if (logCtrlFlgs & LOG_EVENTS)
            logPrintf("#Conversation: R%X posted screen %s, the session shows %s\n", m_nLocalId,
                      m_strFormatName.c_str(), std::string(shown->GetName()).c_str());
        return "This form was for an earlier screen: nothing was sent. This is the current screen.";
    }
    return std::string();
}

bool CZelConversation::IsLostScreenRefused(const std::string &lost, bool hadScreen, bool pageFollowsMods) const {
    // Without the screen and modifications the host sent, no page can tell
    // which fields the user may change, nor whether the form is one of the
    // current screen: input goes nowhere. A function key sends no field and
    // stays the way out. A session that never had a screen (a DezUR
    // exchange, or a record an earlier build wrote) is refused only through
    // a page that follows the modifications.
    if (lost.empty() || m_cStatus != ' ') return false;
    return pageFollowsMods || (hadScreen && m_Protocol.GetFccModsLevel() != FccModsNone);
}

Result CZelConversation::RefuseLostScreen(unsigned id, const std::string &lost) {
    logError("#Conversation: R%X: stored screen lost (%s); nothing was sent\n", id, lost.c_str());
    // What the files hold is not shown: what the user typed, over an empty
    // screen with the page's own protection.
    CBuffer typedOnly;
    WriteHeader(typedOnly, m_strFormatName, ' ', ' ', ' ', m_cFiller);
    m_Protocol.GetLastFccMods().Reset();
    return ShowCurrentScreenAgain(
        id, typedOnly, "The data of the current screen was lost: nothing was sent. Press a function key to go on.",
        true);
}

std::string CZelConversation::CheckSubmittedCharacters() const {
    for (int i = 0, n = xFcgiInputCount(); i < n; ++i) {
        const long refused = FirstRefusedCharacter(xFcgiInputValue(i), m_bRefuseC1);
        if (refused < 0) continue;
        // The field's name comes from the browser: cut, without control
        // characters (the page escapes it).
        const char *field = xFcgiInputName(i);
        const std::string name = logSafeText(field ? field : "", 40);
        char code[24];
        std::snprintf(code, sizeof code, "U+%04lX", refused);
        if (logCtrlFlgs & LOG_EVENTS)
            logPrintf("#Conversation: R%X posted %s, outside %s, in %s\n", m_nLocalId, code,
                      m_strCharacterSet.c_str(), name.c_str());
        return "Characters outside the character set " + m_strCharacterSet +
               " cannot be sent to the host: nothing was sent (" + code + " in the field " + name + ").";
    }
    return std::string();
}

std::string CZelConversation::CheckPostedSize(const CArcMcsHdr *shown, int pageRoom) const {
    if (!shown) return std::string();
    const long limit = std::max<long>(shown->GetSize(), pageRoom);
    if (m_nPostedSize >= 0 && m_nPostedSize <= limit && m_nPostedCount >= 0 && m_nPostedCount <= limit)
        return std::string();
    if (logCtrlFlgs & LOG_ERRORS)
        logPrintf("#Conversation: R%X posted size %ld and count %ld for a screen of %ld bytes\n", m_nLocalId,
                  m_nPostedSize, m_nPostedCount, limit);
    return "The screen size or count of the form is not valid: nothing was sent.";
}

std::string CZelConversation::CheckSessionLocap(unsigned id) {
    // A session lives on one host: its screen sent to another would reach
    // a host that has no such session, and the session would be moved there.
    const std::string own = m_Protocol.SessionLocapOtherThan(id, m_Values.strLocap);
    if (own.empty()) return std::string();
    if (logCtrlFlgs & LOG_EVENTS)
        logPrintf("#Conversation: R%X posted for locap %s, the session lives on %s\n", id,
                  m_Values.strLocap.c_str(), own.c_str());
    m_Values.strLocap = own;
    return "This form was for another host: nothing was sent. This is the current screen.";
}

Result CZelConversation::ShowStoredScreenAgain(unsigned id, const std::string &notice) {
    CBuffer current;
    m_Protocol.GetStoredScreen(id, current, &m_Protocol.GetLastFccMods());
    return ShowCurrentScreenAgain(id, current, notice, false);
}

Result CZelConversation::ShowCurrentScreenAgain(unsigned id, const CBuffer &current,
                                                const std::string &notice, bool showTyped) {
    if (current.GetLength() < kHeader) {
        logError("#Conversation: input for R%X refused and no current screen to show\n", id);
        return Result::InvalidParam;
    }
    CBuffer &buffer = m_Protocol.GetLastMcsData();
    buffer.SetLength(0, 0);
    buffer += current;
    m_strNotice = notice;
    m_bShowTyped = showTyped;
    // The screen awaits new input as when it was first shown.
    m_cStatus = ' ';
    m_strLocalSubscreen.clear();
    return Result::Success;
}
