#include "Options.h"

#include <getopt.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace dtphost {

namespace {

bool toUnsigned(const char* s, unsigned long max, unsigned long& out)
{
    if (!s || !std::isdigit(static_cast<unsigned char>(*s))) return false;
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(s, &end, 0);
    if (errno || *end || v > max) return false;
    out = v;
    return true;
}

enum {
    kPort = 1000, kBind, kLocap, kScript, kFormats, kLog, kFirstId, kPib, kPibDate,
    kLifetime, kFault, kCheck, kHelp, kLogLimit,
};

// A size in bytes, with an optional K or M suffix.
bool toSize(const char* s, uint64_t& out)
{
    unsigned long n = 0;
    std::string text = s ? s : "";
    uint64_t unit = 1;
    if (!text.empty() && (text.back() == 'K' || text.back() == 'M')) {
        unit = text.back() == 'K' ? 1024 : 1024 * 1024;
        text.pop_back();
    }
    if (!toUnsigned(text.c_str(), 1ul << 40, n) || n > (1ull << 40) / unit) return false;
    out = n * unit;
    return true;
}

}  // namespace

const char* usageText()
{
    return R"(Usage: dtphost [options]
Stand-in QOR/ix transaction host: plays the host's side of the DTP protocol
on a TCP port, runs transactions from a script, and logs every frame in hex.

  --port N            port to listen on; 0 (default) takes a free one.
                      The port is printed on standard output.
  --bind ADDR         IPv4 address to listen on (default 127.0.0.1)
  --locap NAME        locap name in the HelloDTP greeting (default QOR1)
  --script FILE       transaction script (default: a built-in one)
  --formats DIR       directory of <name>.t3z screen formats
  --log FILE          log file (default: standard error)
  --log-limit SIZE    bytes per log file, K or M suffix (default 64M; 0:
                      none); a full file becomes FILE.1 and a new one begins
  --first-id N        first host session id (default 0x10001)
  --pib 128|156       PIB form sent with each screen (default 156)
  --pib-date DIGITS   fixed PIB date YYMMDDhhmmss (default: local time)
  --lifetime SECONDS  exit after this time (default: at SIGTERM or SIGINT)
  --fault SWITCH      fault switch, repeatable: NAME[:key=value,...]
                      names: first-frame hello-locap reject accept-other
                      close mcso pren msgo free escreen drop garbage dezur
  --check             read the script and faults, print a summary, exit
  -h, --help          this text
See testhost/README.md for the script format and every fault key.
)";
}

bool parseOptions(int argc, char** argv, Options& out, std::string& error)
{
    static const option longOpts[] = {
        {"port", required_argument, nullptr, kPort},
        {"bind", required_argument, nullptr, kBind},
        {"locap", required_argument, nullptr, kLocap},
        {"script", required_argument, nullptr, kScript},
        {"formats", required_argument, nullptr, kFormats},
        {"log", required_argument, nullptr, kLog},
        {"log-limit", required_argument, nullptr, kLogLimit},
        {"first-id", required_argument, nullptr, kFirstId},
        {"pib", required_argument, nullptr, kPib},
        {"pib-date", required_argument, nullptr, kPibDate},
        {"lifetime", required_argument, nullptr, kLifetime},
        {"fault", required_argument, nullptr, kFault},
        {"check", no_argument, nullptr, kCheck},
        {"help", no_argument, nullptr, kHelp},
        {nullptr, 0, nullptr, 0},
    };
    optind = 1;
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":h", longOpts, nullptr)) != -1) {
        unsigned long n = 0;
        std::string arg = optarg ? optarg : "";
        switch (c) {
        case kPort:
            if (!toUnsigned(optarg, 65535, n)) { error = "--port needs a number up to 65535"; return false; }
            out.port = static_cast<uint16_t>(n);
            break;
        case kBind: out.bind = arg; break;
        case kLocap:
            if (arg.empty() || arg.size() > 8) { error = "--locap needs a name of 1 to 8 characters"; return false; }
            out.host.locap = arg;
            break;
        case kScript: out.script = arg; break;
        case kFormats: out.host.formatsDir = arg; break;
        case kLog: out.log = arg; break;
        case kLogLimit:
            if (!toSize(optarg, out.logLimit)) { error = "--log-limit needs a size in bytes, K or M"; return false; }
            break;
        case kFirstId:
            if (!toUnsigned(optarg, 0xFFFFFFFFul, n) || n == 0) { error = "--first-id needs a non-zero number"; return false; }
            out.host.firstId = static_cast<uint32_t>(n);
            break;
        case kPib:
            if (arg != "128" && arg != "156") { error = "--pib must be 128 or 156"; return false; }
            out.host.pibLength = arg == "128" ? kPibShort : kPibLong;
            break;
        case kPibDate:
            if (arg.size() != 12 || arg.find_first_not_of("0123456789") != std::string::npos) {
                error = "--pib-date needs 12 digits YYMMDDhhmmss";
                return false;
            }
            out.host.pibDate = arg;
            break;
        case kLifetime:
            if (!toUnsigned(optarg, 86400, n)) { error = "--lifetime needs seconds up to 86400"; return false; }
            out.lifetime = static_cast<unsigned>(n);
            break;
        case kFault: {
            Fault f;
            std::string why;
            if (!parseFault(arg, f, why)) { error = "--fault " + arg + ": " + why; return false; }
            out.faults.push_back(f);
            break;
        }
        case kCheck: out.check = true; break;
        case 'h': case kHelp: out.help = true; break;
        case ':': error = std::string("option ") + argv[optind - 1] + " needs a value"; return false;
        default: error = std::string("unknown option ") + argv[optind - 1]; return false;
        }
    }
    if (optind < argc) {
        error = std::string("unexpected argument ") + argv[optind];
        return false;
    }
    return true;
}

}  // namespace dtphost
