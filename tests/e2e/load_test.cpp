// Load through lighttpd: 8 gateway workers and 200 browser sessions at once
// for a bounded time, each typing into the ECHO screen.  Every answer must
// be its own session's screen with its own text and input count; at the end
// every session is still there, answers once more and ends cleanly.
#include "checks.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>

namespace e2e {
namespace {

constexpr int kWorkers = 8;
constexpr int kSessions = 200;

int loadSeconds()
{
    const char* v = std::getenv("QOR_E2E_LOAD_SECONDS");
    int n = v ? std::atoi(v) : 0;
    return n > 0 && n <= 600 ? n : 10;
}

struct Session {
    Visitor visitor;
    std::string sid, hostId;
    int rounds = 0;
    explicit Session(uint16_t port) : visitor(port) {}
};

class Problems {
public:
    void add(const std::string& what)
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (++count_ <= 20) list_ += what.substr(0, 600) + "\n";
    }
    int count() const { return count_; }
    std::string list() const { return list_; }

private:
    std::mutex mu_;
    std::atomic<int> count_{0};
    std::string list_;
};

// Checks that an answer is session `s`'s ECHO screen after `rounds` inputs,
// the last being `typed`.
bool checkEcho(const Session& s, int rounds, const std::string& typed, Problems& problems, int index)
{
    const HttpResponse& r = s.visitor.last();
    const Form& f = s.visitor.form();
    std::string who = "session " + std::to_string(index) + " round " + std::to_string(rounds) + ": ";
    if (r.status != 200 || f.name != "ECHO") {
        problems.add(who + "HTTP " + std::to_string(r.status) + " " + r.body.substr(0, 300));
        return false;
    }
    if (s.visitor.sid() != s.sid || f.get("field_003") != s.hostId) {
        problems.add(who + "another session's screen: sid " + s.visitor.sid() + " host id " + f.get("field_003") +
                     ", expected " + s.sid + " " + s.hostId);
        return false;
    }
    if (f.get("field_005") != std::to_string(rounds) || f.get("field_009") != typed) {
        problems.add(who + "inputs '" + f.get("field_005") + "', echo '" + f.get("field_009") + "', expected '" +
                     typed + "'");
        return false;
    }
    return true;
}

TEST(Load, TwoHundredSessionsOnEightWorkers)
{
    E2E_REQUIRE_QORIC();
    Stack s(withConfig("", kWorkers));
    ASSERT_TRUE(s.waitForWorkers(kWorkers));
    const auto seconds = loadSeconds();

    std::vector<std::unique_ptr<Session>> sessions;
    for (int i = 0; i < kSessions; ++i) sessions.push_back(std::make_unique<Session>(s.port()));
    Problems problems;
    std::atomic<int> opened{0}, totalRounds{0};
    std::mutex mu;
    std::condition_variable allOpen;
    std::chrono::steady_clock::time_point deadline;
    bool go = false;

    auto client = [&](int index) {
        Session& se = *sessions[index];
        // All sessions open at once, then type until the time is up.
        se.visitor.open("/qoric?pib.transaction=ECHO");
        se.sid = se.visitor.sid();
        se.hostId = se.visitor.form().get("field_003");
        if (!checkEcho(se, 0, "", problems, index)) se.sid.clear();
        {
            std::unique_lock<std::mutex> lock(mu);
            if (++opened == kSessions) {
                deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
                go = true;
                allOpen.notify_all();
            }
            allOpen.wait(lock, [&] { return go; });
        }
        if (se.sid.empty()) return;
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string typed = "S" + std::to_string(index) + " R" + std::to_string(se.rounds + 1) + " " + se.hostId;
            se.visitor.submit({{"field_007", typed}});
            if (!checkEcho(se, se.rounds + 1, typed, problems, index)) return;
            ++se.rounds;
            ++totalRounds;
        }
    };
    const auto started = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < kSessions; ++i) threads.emplace_back(client, i);
    for (auto& t : threads) t.join();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    EXPECT_EQ(problems.count(), 0) << problems.list();
    std::set<std::string> sids, hostIds;
    int minRounds = 1 << 30;
    for (const auto& se : sessions) {
        sids.insert(se->sid);
        hostIds.insert(se->hostId);
        minRounds = std::min(minRounds, se->rounds);
    }
    EXPECT_EQ(sids.size(), static_cast<size_t>(kSessions)) << "each session has its own id";
    EXPECT_EQ(hostIds.size(), static_cast<size_t>(kSessions)) << "and its own host session";
    EXPECT_GT(minRounds, 0) << "every session got its turns";
    std::printf("[ load ] %d sessions, %d workers: %d screen round trips in %.1f s (%.0f/s)\n", kSessions,
                kWorkers, totalRounds.load(), elapsed, totalRounds.load() / elapsed);
    RecordProperty("round_trips", totalRounds.load());

    // No session or record was lost: the table holds all of them, each
    // answers once more, and each ends with its program.
    TableView t = s.table();
    std::set<std::string> guids;
    for (const auto& r : t.records) guids.insert(r.guidText);
    EXPECT_EQ(guids, sids);
    std::atomic<int> ended{0};
    auto finish = [&](int index) {
        Session& se = *sessions[index];
        if (se.sid.empty()) return;
        const std::string typed = "LAST " + std::to_string(index);
        se.visitor.submit({{"field_007", typed}});
        if (!checkEcho(se, se.rounds + 1, typed, problems, index)) return;
        const HttpResponse& end = se.visitor.submit({}, '3');
        if (end.status == 200 && end.body.find("ECHO ENDS") != std::string::npos) ++ended;
        else problems.add("session " + std::to_string(index) + " did not end: " + end.body.substr(0, 300));
    };
    threads.clear();
    for (int i = 0; i < kSessions; ++i) threads.emplace_back(finish, i);
    for (auto& t : threads) t.join();
    EXPECT_EQ(ended.load(), kSessions) << problems.list();
    EXPECT_EQ(s.table().records.size(), 0u);
    EXPECT_EQ(s.hostLog().find("error:"), std::string::npos);
}

}  // namespace
}  // namespace e2e
