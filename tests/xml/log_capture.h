// Opens the process log on a file in the test's working folder so a test
// can check which lines the code under test wrote.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include "logprint.h"

class LogCapture {
public:
    explicit LogCapture(const std::string& name = "capture.log", const char* options = nullptr)
        : path_(name), options_(options ? options : "") {
        logClose();
        if (!options_.empty()) logOptions(options_.c_str());
        logOpen(path_.c_str(), 0);
    }
    // Options given here are switched off again for the next capture.
    ~LogCapture() {
        logClose();
        if (!options_.empty()) logOptions(("!" + options_ + "!").c_str());
    }

    // Everything written so far.
    std::string text() const {
        logForceFlush();
        std::ifstream in(path_);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    bool contains(const std::string& s) const { return text().find(s) != std::string::npos; }

private:
    std::string path_;
    std::string options_;
};
