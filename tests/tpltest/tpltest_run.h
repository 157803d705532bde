// tpltest run as a program in a scratch folder of the test's working
// folder: its standard output, exit status and log. TMPDIR names the
// scratch folder, so the -t log is the test's own (never the machine-wide
// /tmp/xfcgi.log).
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class Tpltest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* bin = std::getenv("QOR_BINARY_DIR");
        program_ = std::string(bin ? bin : "..") + "/tools/tpltest/tpltest";
        char pattern[] = "./cliXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        char* cwd = getcwd(nullptr, 0);
        ASSERT_NE(cwd, nullptr);
        absDir_ = std::string(cwd) + "/" + dir_.substr(2);
        std::free(cwd);
        kLog = absDir_ + "/xfcgi.log";
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
    void write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
    }
    // Runs tpltest in the scratch folder (env: shell text put before the
    // command: assignments, "mkdir x &&", ...); its standard output in
    // out, its standard error in err when given.
    int run(const std::string& args, std::string& out, const std::string& env = "",
            std::string* err = nullptr) {
        const std::string errFile = dir_ + ".err";
        std::string cmd = "cd '" + dir_ + "' && " + env + " env DOCUMENT_ROOT=/nonexistent TMPDIR='" + absDir_ +
                          "' '" + program_ + "' " + args + " 2>" + (err ? "'../" + errFile + "'" : "/dev/null");
        FILE* p = popen(cmd.c_str(), "r");
        if (!p) return -1;
        out.clear();
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        int status = pclose(p);
        if (err) {
            *err = readFile(errFile);
            std::remove(errFile.c_str());
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string program_, dir_, absDir_;
    std::string kLog;   // the -t log
};

}  // namespace
