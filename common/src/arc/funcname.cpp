// Function-code names. The table is indexed by code; codes without a name
// have a null entry.
#include "funcname.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kCodes = 260;
constexpr int kMinWidth = 10;
constexpr int kRotating = 3;
constexpr size_t kBufSize = 24;  // "DF#2147483648" and the longest name fit

struct Name {
    int code;
    const char *name;
};

const Name kNames[] = {
    {1, "dFlogin"}, {2, "dFlogout"}, {3, "dFshutdown"}, {4, "dFexecfail"},
    {5, "dFexecfcs"}, {6, "dFping"}, {7, "dFgrowbuf"}, {8, "dFgrowcda"},
    {9, "dFprok"}, {14, "dFsmsBld"}, {15, "dFsmsEdt"}, {16, "dFsmsRbld"},
    {17, "dFcmdPrvw"}, {18, "dFidle"}, {19, "dFkill"}, {20, "dFmcsrdy"},
    {21, "dFmsgo"}, {22, "dFmsgi"}, {23, "dFmsge"}, {24, "dFerase"},
    {25, "dFmsgeo"}, {26, "dFtimer"}, {27, "dFroll"}, {28, "dFprompt"},
    {29, "dFparam"}, {30, "dFtext"}, {31, "dFutsin"}, {32, "dFutsout"},
    {33, "dFmsgov"}, {34, "dFmsgrs"}, {35, "dFmsgrv"}, {36, "dFask"},
    {37, "dFaskyn"}, {38, "dFlist"}, {39, "dFmenu"}, {40, "dFhelp"},
    {41, "dFkdcin"}, {42, "dFkdcout"}, {47, "dFtitle"}, {48, "dFmcsform"},
    {49, "dFqormsg"}, {51, "dFunsolmsg"}, {52, "dFutsedit"}, {53, "dFbmsin"},
    {54, "dFbmsout"}, {56, "dFbreak"}, {57, "dFcmdline"}, {59, "dFgrpst"},
    {60, "dFsub"}, {61, "dFxctl"}, {62, "dFrtn"}, {63, "dFfork"},
    {64, "dFjump"}, {65, "dFdxc"}, {66, "dFsubp"}, {67, "dFflag"},
    {68, "dFqueue"}, {69, "dFpeer"}, {70, "dFusr"}, {71, "dFusrid"},
    {72, "dFdate"}, {73, "dFforkq"}, {74, "dFmsg"}, {75, "dFpeerfork"},
    {76, "dFremoteSub"}, {77, "dFusrTerm"}, {78, "dFo4iq"}, {79, "dFforkw"},
    {80, "dFwinapp"}, {82, "dFfree"}, {83, "dFqorcd"}, {84, "dFsetenv"},
    {85, "dFscript"}, {86, "dFfin"}, {87, "dFqorh2p"}, {88, "dFqorp2h"},
    {89, "dFqorcdq"}, {90, "dFfopen"}, {91, "dFfclose"}, {92, "dFfcsopen"},
    {93, "dFfcsclose"}, {94, "dFfcsio"}, {95, "dFsysio"}, {96, "dFprint"},
    {97, "dFgetfdes"}, {98, "dFfdes"}, {99, "dFusrst"}, {100, "dFdebug"},
    {102, "dFnoop"}, {103, "dFloadsec"}, {104, "dFdmlio"}, {106, "dFjrnswap"},
    {107, "dFgetTermId"}, {110, "dFtren"}, {111, "dFprepare"}, {112, "dFready"},
    {114, "dFabortTran"}, {115, "dFabort"}, {116, "dFdoneAbort"}, {117, "dFcommit"},
    {118, "dFrelease"}, {119, "dFcleanUp"}, {120, "dFdoneCleanUp"}, {121, "dFquery"},
    {122, "dFuiBegin"}, {123, "dFuiEnd"}, {124, "dFrmtUtsIn"}, {125, "dFrmtUtsOut"},
    {126, "dFrmtUnsolmsg"}, {127, "dFrmtUtsPrvw"}, {128, "dFlclUtsPrvw"}, {129, "dFrmtMcs"},
    {130, "dFtmReqTran"}, {131, "dFtmReqDbio"}, {132, "dFtmIdle"}, {133, "dFtmStart"},
    {134, "dFtmStop"}, {135, "dFtmResume"}, {136, "dFtmBusy"}, {137, "dFtmReqDbio2"},
    {138, "dFtranOpt"}, {139, "dFrmtMcsAck"}, {153, "dFexecProg"}, {154, "dFexecStop"},
    {155, "dFrunBack"}, {156, "dFquetd"}, {160, "dFmsgxo"}, {161, "dFmsgxi"},
    {162, "dFmsgxe"}, {199, "dFfmtReply"}, {200, "dFfmtReq"}, {201, "dFutsoutraw"},
    {216, "dFlopen"}, {217, "dFlclose"}, {218, "dFtranup"}, {219, "dFtrandown"},
    {220, "dFfreePrt"}, {221, "dFconect"}, {222, "dFdiscon"}, {223, "dFforceCmt"},
    {224, "dFportup"}, {225, "dFportdown"}, {226, "dFudsread"}, {227, "dFudsack"},
    {230, "dFwsNegotiate"}, {231, "dFwsIdentTerm"}, {232, "dFwsSecurity"}, {233, "dFwsErrorMsg"},
    {234, "dFwsPwdChange"}, {235, "dFwsKeepAlive"}, {236, "dFwsVersionInfo"}, {240, "dFwebTsRead"},
    {241, "dFwebTsSend"}, {242, "dFuniAccess"}, {250, "dFmcbPassoff"}, {255, "dFssCall"},
    {256, "dFssStop"}, {257, "dFssIdle"}, {258, "dFssLoad"}, {259, "dFssAck"},
};
static_assert(sizeof kNames / sizeof kNames[0] == 160, "160 named codes");

struct Table {
    const char *byCode[kCodes] = {};
    Table()
    {
        for (const Name &n : kNames)
            byCode[n.code] = n.name;
    }
};

const Table &table()
{
    static const Table t;
    return t;
}

} // namespace

const char *funcName(int code)
{
    thread_local char bufs[kRotating][kBufSize];
    thread_local int next = 0;
    char *out = bufs[next];
    next = (next + 1) % kRotating;

    // The magnitude as unsigned, so INT_MIN has one too.
    const uint32_t magnitude = code < 0 ? 0u - static_cast<uint32_t>(code) : static_cast<uint32_t>(code);
    const char *name = magnitude < kCodes ? table().byCode[magnitude] : nullptr;
    if (name)
        snprintf(out, kBufSize, "%-*s", kMinWidth, name);
    else
        snprintf(out, kBufSize, "dF#%-*u", kMinWidth - 3, magnitude);
    if (code < 0)
        for (char *p = out; *p; ++p)
            *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    return out;
}
