// The cleaner process: a child that a gateway process forks when no
// cleaner runs (CZelDtpProtocol::RunCleanerLoop, in ZelCleaner.cpp). It
// wakes every third of the session time-out, expires idle sessions and
// closes them on their hosts over connections of its own, removes the
// session table when it has stayed empty long enough, and hands over when
// the configuration changes.
//
// This header holds the cleaner's timing rules.
#ifndef QOR_ZELCLEANER_H
#define QOR_ZELCLEANER_H

// Why a cleaner is started. A fresh one (start-up, reload, hand-over)
// finds the sessions as their workers left them and makes its first pass
// after a wake interval. A replacement takes over from a cleaner that
// died while the workers ran on: sessions may be overdue already, so its
// first pass is made at once.
enum class CZelCleanerStart { Fresh, Replacement };

struct CZelCleanerTimeouts {
    // Added to the session time-out when it is larger than the table
    // time-out, so that a table outlives its longest session.
    static constexpr unsigned kTableMargin = 240;
    // Wake-ups between two "wake up" log lines.
    static constexpr unsigned kWakeLogInterval = 25;

    unsigned record = 1;   // seconds a session may stay idle (at least 1)
    unsigned table = 1;    // seconds an empty table may stay idle
    unsigned wake = 1;     // seconds between two passes: record / 3, at least 1
    bool adjusted = false; // the table time-out was raised

    static CZelCleanerTimeouts From(int recordTimeout, int systemTimeout) {
        CZelCleanerTimeouts t;
        t.record = recordTimeout > 0 ? static_cast<unsigned>(recordTimeout) : 1u;
        const unsigned system = systemTimeout > 0 ? static_cast<unsigned>(systemTimeout) : 0u;
        if (t.record > system) {
            t.table = t.record + kTableMargin;
            t.adjusted = true;
        } else {
            t.table = system;
        }
        t.wake = t.record / 3 > 0 ? t.record / 3 : 1u;
        return t;
    }
};

#endif
