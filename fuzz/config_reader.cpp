// fuzz-libs: qor_foundation qor_xfcgi qor_xml qor_fcgi qor_arc
// The configuration reader over arbitrary bytes: the document is parsed
// from a stream as the gateway reads its file, every element is applied,
// and the resulting tables are walked and searched.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "IcParserIntegrator.h"
#include "ZelConfigParser.h"
#include "logprint.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    logOpen("/dev/null", 0);   // the reader's log lines run, output is dropped
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1 << 16)) return 0;
    std::string text(reinterpret_cast<const char *>(data), size);
    FILE *f = size ? fmemopen(&text[0], size, "r") : nullptr;
    if (size && !f) return 0;

    CZelConfigParser model;
    model.Reset();
    CIcParserIntegrator reader(&model);
    if (f) {
        reader.ReadConfigStream(f, "fuzz");
        std::fclose(f);
    }

    // Walk everything the read produced.
    std::size_t sum = model.GetServerRoot().size() + model.GetLogFile().size();
    for (const auto &l : model.GetLocapTable().Entries())
        sum += l.first.size() + l.second->m_strAddress.size();
    for (const auto &g : model.GetAppGroupTable().Entries()) {
        if (model.GetAppGroupTable().Find(g.second->m_strUrl) == nullptr) std::abort();
        sum += g.second->m_strSidName.size();
    }
    CZelTransactionTable &t = model.GetTransactionTable();
    std::string names[] = {"", "X", model.GetDefaultLocap()};
    for (const auto &n : names) sum += t.Find(n)->m_strLocap.size();
    for (const auto &e : model.GetSetenvList()) {
        if (e.first.empty() || e.second.empty()) std::abort();
        if (e.first.size() + 1 + e.second.size() > CZelConfigParser::kMaxSetenvText) std::abort();
    }
    if (model.GetMaxSessions() < 1 || model.GetInstanceTimeout() < 1) std::abort();
    if (sum == static_cast<std::size_t>(-1)) std::abort();   // keeps the walk
    return 0;
}
