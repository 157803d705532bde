#include "Engine.h"

#include "EngineUtil.h"

#include <algorithm>
#include <iterator>

namespace dtphost {

using namespace detail;

Engine::Engine(HostConfig config, Script script, std::vector<Fault> faults, HexLog& log)
    : config_(std::move(config)), script_(std::move(script)), faults_(std::move(faults)),
      log_(log), nextId_(config_.firstId ? config_.firstId : 1),
      hasDrop_(std::any_of(faults_.begin(), faults_.end(), [](const Fault& f) { return f.kind == Fault::Drop; }))
{
}

size_t Engine::openSessions() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return static_cast<size_t>(std::count_if(sessions_.begin(), sessions_.end(),
                                             [](const auto& kv) { return kv.second.open; }));
}

size_t Engine::knownSessions() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return sessions_.size();
}

// ---------------------------------------------------------------------------
// Connection level

std::vector<Output> Engine::greet(Peer& peer)
{
    std::lock_guard<std::mutex> lock(mu_);
    if (Fault* f = firing(Fault::Silent, "connect")) {
        log_.event(peer.id, "fault " + f->given + ": no greeting");
        return {};
    }
    Fault* wrongFrame = firing(Fault::FirstFrame, "connect");
    Fault* wrongLocap = firing(Fault::HelloLocap, "connect");
    if (Fault* f = wrongFrame) {
        Bytes body(f->length, 0);
        body[0] = f->cls;
        log_.event(peer.id, "fault " + f->given + ": " + className(f->cls) + " in place of HelloDTP");
        return {frameOut(std::move(body))};
    }
    std::string name = config_.locap;
    if (Fault* f = wrongLocap) {
        name = f->name;
        log_.event(peer.id, "fault " + f->given + ": greeting with locap " + name);
    }
    return {frameOut(buildHello(name))};
}

bool Engine::dropAfter(const Peer& peer, bool sent, uint8_t cls)
{
    // Asked after every frame: without a drop switch, connections need not
    // queue for the lock.
    if (!hasDrop_) return false;
    std::lock_guard<std::mutex> lock(mu_);
    for (Fault& f : faults_) {
        if (f.fireFrame(sent, cls)) {
            log_.event(peer.id, "fault " + f.given + ": dropping the connection after " +
                                    (sent ? "sending " : "receiving ") + className(cls));
            return true;
        }
    }
    return false;
}

std::vector<Output> Engine::onFrame(Peer& peer, const Bytes& body)
{
    std::lock_guard<std::mutex> lock(mu_);
    if (body.empty()) {
        log_.error(peer.id, "empty frame from the gateway; closing the connection");
        return {dropOut()};
    }
    Plan plan;
    std::string error;
    switch (body[0]) {
    case kHello: onHello(peer, body, error); break;
    case kOpen: onOpen(peer, body, plan, error); break;
    case kClose: onClose(peer, body, error); break;
    case kPrst: onPrst(peer, body, plan, error); break;
    case kMcso: onMcso(peer, body, plan, error); break;
    case kDezUrRead: onDezUrRead(peer, body, plan, error); break;
    default:
        log_.warning(peer.id, "unexpected " + className(body[0]) + " from the gateway ignored");
        break;
    }
    forgetClosed();
    if (!error.empty()) return {dropOut()};
    std::vector<Output> out;
    for (auto* part : {&plan.lead, &plan.before, &plan.main, &plan.after})
        std::move(part->begin(), part->end(), std::back_inserter(out));
    return out;
}

bool Engine::decoded(const Peer& peer, const std::string& error,
                     const std::vector<std::string>& warnings)
{
    for (const std::string& w : warnings) log_.warning(peer.id, w);
    if (error.empty()) return true;
    log_.error(peer.id, error + "; closing the connection");
    return false;
}

// ---------------------------------------------------------------------------
// Requests

void Engine::onHello(Peer& peer, const Bytes& body, std::string& error)
{
    Hello h;
    std::vector<std::string> warnings;
    error = decodeHello(body, h, warnings);
    if (!decoded(peer, error, warnings)) return;
    if (peer.hellos++ > 0) log_.warning(peer.id, "a second HelloDTP on this connection");
    peer.gatewayLocap = h.locap;
    log_.event(peer.id, "gateway greets as locap " + h.locap + " (no answer)");
}

void Engine::onOpen(Peer& peer, const Bytes& body, Plan& plan, std::string& error)
{
    SessHdr o;
    std::vector<std::string> warnings;
    error = decodeSessHdr(body, o, warnings);
    if (!decoded(peer, error, warnings)) return;
    if (o.receiver != 0) log_.warning(peer.id, "OPEN names receiver " + sid('L', o.receiver) + ", expected 0");
    if (!peer.gatewayLocap.empty() && o.locap != peer.gatewayLocap)
        log_.warning(peer.id, "OPEN from locap " + o.locap + ", greeted as " + peer.gatewayLocap);
    if (peer.hellos == 0) log_.warning(peer.id, "OPEN before the gateway's HelloDTP");

    if (Fault* f = firing(Fault::Reject, "open")) {
        Dest d = resolve(f->to, nullptr, o.sender);
        log_.event(peer.id, "fault " + f->given + ": OPEN from " + sid('R', o.sender) +
                                " rejected to " + sid('R', d.R) + ", reason " +
                                std::to_string(f->rejectReason));
        plan.main = {frameOut(buildSessHdr(kReject, 0, d.R, config_.locap, f->rejectReason, o.tail))};
        inject(peer, "open", nullptr, o.sender, plan);
        return;
    }
    uint32_t L = nextId_++;
    if (nextId_ == 0) nextId_ = 1;
    Session& s = sessions_[L];
    s = Session{};
    s.L = L;
    s.R = o.sender;
    s.order = ++order_;
    s.gatewayLocap = o.locap;
    log_.event(peer.id, "OPEN from " + sid('R', s.R) + " locap " + o.locap + ": session " +
                            sid('L', L) + " accepted");
    if (Fault* f = firing(Fault::AcceptOther, "open")) {
        Dest d = resolve(f->to, &s, s.R);
        log_.event(peer.id, "fault " + f->given + ": ACCEPT for " + sid('R', d.R) + " first");
        plan.before.push_back(frameOut(buildSessHdr(kAccept, d.L, d.R, config_.locap, 0, o.tail)));
    }
    plan.main = {frameOut(buildSessHdr(kAccept, L, s.R, config_.locap, 0, o.tail))};
    inject(peer, "open", &s, s.R, plan);
}

void Engine::onClose(Peer& peer, const Bytes& body, std::string& error)
{
    SessHdr c;
    std::vector<std::string> warnings;
    error = decodeSessHdr(body, c, warnings);
    if (!decoded(peer, error, warnings)) return;
    Session* s = find(c.receiver);
    if (!s) {
        log_.warning(peer.id, "CLOSE from " + sid('R', c.sender) + " for unknown session " +
                                  sid('L', c.receiver));
        return;
    }
    if (s->R != c.sender)
        log_.warning(peer.id, "CLOSE for " + sid('L', s->L) + " comes from " + sid('R', c.sender) +
                                  ", the session belongs to " + sid('R', s->R));
    close(*s);
    log_.event(peer.id, "session " + sid('L', s->L) + " closed by the gateway (no answer)");
}

void Engine::onPrst(Peer& peer, const Bytes& body, Plan& plan, std::string& error)
{
    Prst p;
    std::vector<std::string> warnings;
    error = decodePrst(body, p, warnings);
    if (!decoded(peer, error, warnings)) return;
    Session* s = find(p.receiver);
    if (!s) {
        unknownSession(peer, p.receiver, "PRST", plan);
        return;
    }
    s->trid = p.trid;
    s->user = p.user;
    s->cda.assign(p.cda.begin(), p.cda.end());
    log_.event(peer.id, "PRST for session " + sid('L', s->L) + ": transaction " + p.trid +
                            ", CDA '" + printable(s->cda) + "'" +
                            (p.pid.empty() ? "" : ", pid pool " + p.pid));
    if (s->running) log_.warning(peer.id, "PRST while a program runs in " + sid('L', s->L));
    const Transaction* t = script_.find(p.trid);
    if (!t) {
        log_.event(peer.id, "no transaction " + p.trid + ": program end N");
        s->running = false;
        plan.main = {frameOut(buildPren(s->R, 'N', "UNKNOWN TRANSACTION " + p.trid))};
        inject(peer, "prst", s, s->R, plan);
        return;
    }
    s->trx = t;
    s->running = true;
    s->dezurPending = false;
    s->inputs = 0;
    s->input.clear();
    s->key = ' ';
    s->current = script_.screen(t->first);
    plan.lead = {frameOut(buildProk(s->R))};
    if (Fault* f = firing(Fault::DezUr, "prst")) {
        s->dezurPending = true;
        s->dzGroup = f->group;
        s->dzForm = f->form;
        s->dzHeader = f->header;
        s->dzScreen = f->screen;
        s->current = nullptr;
        log_.event(peer.id, "fault " + f->given + ": DezUR read for form " + f->form);
        plan.main = {frameOut(buildDezUr(kDezUrRead, s->R, f->group, f->form, "", ""))};
    } else {
        log_.event(peer.id, "first screen " + s->current->name);
        plan.main = {frameOut(programMessage(*s, *s->current, s->R, false))};
    }
    inject(peer, "prst", s, s->R, plan);
}

void Engine::onMcso(Peer& peer, const Bytes& body, Plan& plan, std::string& error)
{
    McsMessage m;
    std::vector<std::string> warnings;
    error = decodeMcso(body, m, warnings);
    if (!decoded(peer, error, warnings)) return;
    Session* s = find(m.receiver);
    if (!s) {
        unknownSession(peer, m.receiver, "MCSO", plan);
        return;
    }
    if (s->screens > 0 && !std::equal(m.ids, m.ids + 4, s->ids))
        log_.warning(peer.id, "MCS ids " + hex(m.ids[0]) + " " + hex(m.ids[1]) + " " + hex(m.ids[2]) +
                                  " " + hex(m.ids[3]) + " differ from those sent last");
    if (m.subType == kMcsScreenInput) {
        onInput(peer, *s, body, m, plan, error);
    } else if (m.subType == kMcsFormatRequest) {
        onFormatRequest(peer, *s, body, m, plan);
    } else {
        log_.warning(peer.id, "MCS sub-packet type " + std::to_string(m.subType) + " ignored");
    }
}

void Engine::onInput(Peer& peer, Session& s, const Bytes& body, const McsMessage& m, Plan& plan,
                     std::string& error)
{
    if (m.params.size() < 2 || m.params[1].length < kMcsHeaderSize) {
        error = "screen input without a PIB and an MCS header";
        log_.error(peer.id, error + "; closing the connection");
        return;
    }
    if (m.index != 3) log_.warning(peer.id, "screen input with function index " + std::to_string(m.index));
    if (m.params.size() != 2) log_.warning(peer.id, "screen input with " + std::to_string(m.params.size()) + " parameters");

    // The PIB comes back as it was sent, but for byte 47 and the zero areas.
    const Param& pib = m.params[0];
    if (pib.length != kPibShort && pib.length != kPibLong) {
        log_.warning(peer.id, "PIB of " + std::to_string(pib.length) + " bytes");
    } else if (!s.pib.empty()) {
        for (size_t i = 0; i < std::min(pib.length, s.pib.size()); ++i) {
            bool ignored = i == 47 || (i >= 58 && i < 73) || (i >= 112 && s.pib.size() == kPibShort) ||
                           i >= 140;
            if (!ignored && body[pib.offset + i] != s.pib[i]) {
                log_.warning(peer.id, "PIB byte " + std::to_string(i) + " differs from the one sent");
                break;
            }
        }
    }

    const uint8_t* mcs = &body[m.params[1].offset];
    size_t mcsLen = m.params[1].length;
    std::string name = getName(mcs, 8);
    char status = static_cast<char>(mcs[16]);
    uint16_t size = getU16(mcs + 14), count = getU16(mcs + 18);
    size_t present = mcsLen - kMcsHeaderSize;
    if (status != ' ' && (size || count || present))
        log_.warning(peer.id, "function-key input with size " + std::to_string(size) + ", count " +
                                  std::to_string(count) + " and " + std::to_string(present) + " data bytes");
    if (count != present)
        log_.warning(peer.id, "MCS count " + std::to_string(count) + " but " + std::to_string(present) +
                                  " data bytes present");
    if (s.current && name != s.current->name)
        log_.warning(peer.id, "input names screen " + name + ", the session shows " + s.current->name);
    s.input.assign(mcs + kMcsHeaderSize, mcs + kMcsHeaderSize + std::min<size_t>(count, present));
    s.key = status;
    ++s.inputs;
    const std::string event = status == ' ' ? "enter" : "key";
    log_.event(peer.id, "input for session " + sid('L', s.L) + " on screen " + name + ": status '" +
                            std::string(1, status) + "', " + std::to_string(s.input.size()) + " data bytes");

    const ScreenDef* next = nullptr;
    if (!s.running) {
        log_.event(peer.id, "no program runs: program end E");
        plan.main = {frameOut(buildPren(s.R, 'E', "NO PROGRAM RUNNING"))};
    } else if (!s.current) {
        next = script_.screen(s.trx->first);
    } else {
        Target t = s.current->targetFor(status);
        switch (t.kind) {
        case Target::Screen: next = script_.screen(t.screen); break;
        case Target::Same: next = s.current; break;
        case Target::End:
            log_.event(peer.id, "program ends, reason '" + std::string(1, t.reason) + "'");
            plan.main = {frameOut(buildPren(s.R, t.reason, expand(t.cda, s)))};
            s.running = false;
            s.current = nullptr;
            break;
        case Target::Close:
            log_.event(peer.id, "host closes session " + sid('L', s.L));
            plan.main = {frameOut(buildSessHdr(kClose, s.L, s.R, config_.locap))};
            close(s);
            break;
        }
    }
    if (next) {
        s.current = next;
        Fault* e = firing(Fault::EScreen, event);
        if (e) log_.event(peer.id, "fault " + e->given + ": screen " + next->name + " as an E message");
        else log_.event(peer.id, "next screen " + next->name);
        plan.main = {frameOut(programMessage(s, *next, s.R, e != nullptr))};
    }
    inject(peer, event, &s, s.R, plan);
}

void Engine::onFormatRequest(Peer& peer, Session& s, const Bytes& body, const McsMessage& m,
                             Plan& plan)
{
    std::string name;
    if (m.params.empty()) {
        log_.warning(peer.id, "format request without a name");
    } else {
        name = getName(body.data() + m.params[0].offset, m.params[0].length);
        if (m.params[0].length != 8)
            log_.warning(peer.id, "format name parameter of " + std::to_string(m.params[0].length) + " bytes");
    }
    if (m.index != 0) log_.warning(peer.id, "format request with function index " + std::to_string(m.index));
    FormatRecord rec;
    rec.name = name;
    rec.group = config_.locap;
    std::string why;
    if (loadFormat(name, rec, why)) {
        log_.event(peer.id, "format " + name + " for session " + sid('L', s.L) + ": " +
                                std::to_string(rec.t3z.size()) + " bytes");
    } else {
        log_.event(peer.id, "format " + printable(name) + " " + why + ": empty format record");
    }
    Bytes p0;
    appendText(p0, name, 8);
    std::vector<McsParam> params = {{p0}, {buildFormatRecord(rec)}};
    plan.main = {frameOut(buildMcso(s.R, s.ids, kMcsFormatReply, 0, params))};
    inject(peer, "format", &s, s.R, plan);
}

void Engine::onDezUrRead(Peer& peer, const Bytes& body, Plan& plan, std::string& error)
{
    DezUrRead d;
    std::vector<std::string> warnings;
    error = decodeDezUrRead(body, d, warnings);
    if (!decoded(peer, error, warnings)) return;
    Session* s = find(d.receiver);
    if (!s) {
        unknownSession(peer, d.receiver, "DezUrRead", plan);
        return;
    }
    log_.event(peer.id, "DezUR answer for " + sid('L', s->L) + " group " + d.group + " form " + d.form +
                            ": '" + printable(d.texts[0]) + "' '" + printable(d.texts[1]) + "' '" +
                            printable(d.texts[2]) + "' and " + std::to_string(d.texts[3].size()) +
                            " data bytes");
    if (!s->dezurPending) {
        log_.warning(peer.id, "DezUrRead without a pending DezUR read: program end E");
        plan.main = {frameOut(buildPren(s->R, 'E', "NO DEZUR READ PENDING"))};
    } else {
        s->dezurPending = false;
        plan.main = {frameOut(buildDezUr(kDezUrSend, s->R, s->dzGroup, s->dzForm,
                                         expand(s->dzHeader, *s), expand(s->dzScreen, *s)))};
    }
    inject(peer, "dezur", s, s->R, plan);
}

// ---------------------------------------------------------------------------
// Sessions

Engine::Session* Engine::find(uint32_t L)
{
    auto it = sessions_.find(L);
    return it != sessions_.end() && it->second.open ? &it->second : nullptr;
}

void Engine::close(Session& s)
{
    if (s.open) closing_.push_back(s.L);
    s.open = false;
    s.running = false;
}

void Engine::forgetClosed()
{
    for (uint32_t L : closing_) {
        auto it = sessions_.find(L);
        if (it == sessions_.end() || it->second.open) continue;
        if (closedR_.insert_or_assign(L, it->second.R).second) closedOrder_.push_back(L);
        sessions_.erase(it);
    }
    closing_.clear();
    while (closedOrder_.size() > kClosedKept) {
        closedR_.erase(closedOrder_.front());
        closedOrder_.pop_front();
    }
}

void Engine::unknownSession(const Peer& peer, uint32_t L, const char* what, Plan& plan)
{
    // A recently closed session's gateway id is remembered for the CLOSE.
    auto it = closedR_.find(L);
    uint32_t R = it != closedR_.end() ? it->second : 0;
    log_.warning(peer.id, std::string(what) + " for unknown session " + sid('L', L) +
                              ": answered with CLOSE");
    plan.main = {frameOut(buildSessHdr(kClose, L, R, config_.locap))};
}

}  // namespace dtphost
