// Helpers of the configuration tests: reading a configuration text through
// the real file reader, and capturing the process log.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include "IcParserIntegrator.h"
#include "ZelConfigParser.h"
#include "logprint.h"

namespace cfgtest {

// Writes text to a file in the test's working folder and reads it into
// the model after Reset, as the gateway does. Returns the read's result.
inline Result ReadText(CZelConfigParser &model, const std::string &text,
                       const std::string &file = "qoric.conf", int *parseStatus = nullptr) {
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << text;
    }
    model.Reset();
    CIcParserIntegrator reader(&model);
    Result r = reader.OpenFile(file, 0, 0);
    if (parseStatus) *parseStatus = reader.GetLastParseStatus();
    return r;
}

// The log written while the object lives.
class LogCapture {
public:
    explicit LogCapture(const std::string &name = "capture.log") : path_(name) {
        logClose();
        std::remove(path_.c_str());
        logOpen(path_.c_str(), 0);
    }
    ~LogCapture() { logClose(); }
    std::string text() const {
        logForceFlush();
        std::ifstream in(path_);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    bool contains(const std::string &s) const { return text().find(s) != std::string::npos; }

private:
    std::string path_;
};

}  // namespace cfgtest
