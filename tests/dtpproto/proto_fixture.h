// Fixture of the DTP protocol tests: a private directory with its own
// session table and gateway log, a protocol object speaking as locap WEB1,
// and the stand-in host serving locap QOR1 from the test script.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ZelDtpProtocol.h"
#include "logprint.h"
#include "proto_harness.h"

namespace prototest {

class ProtoTest : public ::testing::Test {
protected:
    static constexpr int kMaxSessions = 16;

    void SetUp() override {
        unsetenv("REMOTE_ADDR");
        unsetenv("REQUEST_METHOD");
        unsetenv("HTTP_COOKIE");
        dir_ = std::make_unique<ProtoDir>();
        hosttest::writeFile(ScriptPath(), HostScript());
        logOptions("wdtA");
        logOpen(dir_->GatewayLog().c_str(), 0);
        proto_ = NewProtocol();
        ASSERT_TRUE(proto_);
    }

    void TearDown() override {
        if (HasFailure() && dir_) {
            std::string log = GatewayLog();
            if (log.size() > 6000) log = log.substr(log.size() - 6000);
            std::printf("--- gateway log (end) ---\n%s\n", log.c_str());
            if (host_) {
                std::string hlog = host_->log();
                if (hlog.size() > 4000) hlog = hlog.substr(hlog.size() - 4000);
                std::printf("--- host log (end) ---\n%s\n", hlog.c_str());
            }
        }
        if (proto_) proto_->Exit();
        proto_.reset();
        host_.reset();
        logClose();
        dir_.reset();
    }

    std::string ScriptPath() const { return dir_->Logs() + "/test.dts"; }

    // A protocol object of this installation (one per process).
    std::unique_ptr<CZelDtpProtocol> NewProtocol() {
        auto p = std::make_unique<CZelDtpProtocol>();
        if (IsError(p->Init(dir_->Work() + "/cache", 1, 150001, kMaxSessions, 0))) return nullptr;
        p->SetLocap("WEB1");
        return p;
    }

    void StartHost(const std::vector<std::string> &faults = {}, const std::vector<std::string> &more = {}) {
        std::vector<std::string> args = {"--locap", "QOR1", "--script", ScriptPath(), "--pib-date", "991231235959"};
        args.insert(args.end(), more.begin(), more.end());
        for (const std::string &f : faults) {
            args.push_back("--fault");
            args.push_back(f);
        }
        host_ = std::make_unique<hosttest::HostProcess>(dir_->Logs(), args);
    }

    Result Open(unsigned &id, CZelDtpProtocol *p = nullptr) {
        return (p ? p : proto_.get())->OpenSession("QOR1", "127.0.0.1", host_->port(), id, false, 0);
    }
    // A new session with its program started.
    unsigned Start(const std::string &trid = "PROG1", const std::string &cda = "") {
        unsigned id = 0;
        Result r = Open(id);
        EXPECT_EQ(r, Result::Success);
        if (r != Result::Success) return 0;
        r = proto_->StartProgram(id, trid, cda);
        EXPECT_EQ(r, Result::Success);
        return id;
    }
    Result Input(unsigned id, const std::string &name, char status, const std::string &data = "") {
        CBuffer screen = ToBuffer(McsScreen(name, status, data));
        return proto_->SendMcso(id, screen);
    }

    std::vector<Frame> Frames() const { return ParseHostLog(host_->log()); }
    // The last frame the host sent of a class.
    Bytes LastSent(uint8_t cls) const {
        Bytes out;
        for (const Frame &f : Frames())
            if (f.sent && !f.body.empty() && f.body[0] == cls) out = f.body;
        return out;
    }
    // The host's session id of a gateway session, from the host's ACCEPT.
    uint32_t HostIdOf(unsigned id) const {
        for (const Frame &f : Frames())
            if (f.sent && f.body.size() >= 32 && f.body[0] == 2 && hosttest::rd32(f.body, 8) == id)
                return hosttest::rd32(f.body, 4);
        return 0;
    }
    // Whether the host received a frame equal to body.
    bool HostReceived(const Bytes &body) const {
        for (const Frame &f : Received(Frames()))
            if (f.body == body) return true;
        return false;
    }
    // The host records a frame only after the gateway's send has returned,
    // and an exchange that takes a message already waiting does not wait for
    // the host's answer: give the record a moment to appear.
    bool HostGets(const Bytes &body) const {
        return WaitFor([&] { return HostReceived(body); }, 20000);
    }
    std::string LastMcsName() {
        CBuffer &b = proto_->GetLastMcsData();
        return b.GetLength() >= 8 ? std::string(b.GetBuffer(), 8) : std::string();
    }
    std::string LastMcsBytes(int from, int n) {
        CBuffer &b = proto_->GetLastMcsData();
        if (b.GetLength() < from + n) return std::string();
        return std::string(b.GetBuffer() + from, static_cast<size_t>(n));
    }
    // Whether the session still has a record (read without touching it).
    bool HasRecord(unsigned id) {
        std::unique_ptr<CZelSessionTable::Record> rec;
        return proto_->GetSessionTable().Get(id, rec, true, false) == Result::Success && rec;
    }
    std::string GatewayLog() const { return dir_->ReadGatewayLog(); }

    std::unique_ptr<ProtoDir> dir_;
    std::unique_ptr<hosttest::HostProcess> host_;
    std::unique_ptr<CZelDtpProtocol> proto_;
};

}  // namespace prototest
