// The engine's fault switches: which fire on a request, and the frames
// they add to the reply or put in its place.
#include "Engine.h"

#include "EngineUtil.h"

#include <cstdlib>
#include <iterator>

namespace dtphost {

using namespace detail;

Engine::Dest Engine::resolve(const std::string& to, Session* self, uint32_t selfR)
{
    Dest d;
    if (to == "self") {
        d.L = self ? self->L : 0;
        d.R = selfR;
        d.s = self;
    } else if (to == "other") {
        for (auto& kv : sessions_) {
            Session& o = kv.second;
            if (o.open && &o != self && (!d.s || o.order > d.s->order)) d.s = &o;
        }
        if (d.s) {
            d.L = d.s->L;
            d.R = d.s->R;
        } else {
            d.L = (self ? self->L : nextId_) + 0x1000;
            d.R = selfR + 1000;
        }
    } else {
        d.R = static_cast<uint32_t>(std::strtoul(to.c_str(), nullptr, 0));
        for (auto& kv : sessions_) {
            if (kv.second.open && kv.second.R == d.R) {
                d.s = &kv.second;
                d.L = kv.second.L;
            }
        }
    }
    return d;
}

Fault* Engine::firing(Fault::Kind kind, const std::string& event)
{
    // Every switch of the kind sees the event, so each counts its own skips.
    Fault* first = nullptr;
    for (Fault& f : faults_)
        if (f.kind == kind && f.fire(event) && !first) first = &f;
    return first;
}

void Engine::inject(const Peer& peer, const std::string& event, Session* self, uint32_t selfR,
                    Plan& plan)
{
    bool silent = false;
    for (Fault& f : faults_) {
        switch (f.kind) {
        case Fault::Close: case Fault::Mcso: case Fault::Pren:
        case Fault::Msgo: case Fault::Free: case Fault::Garbage: case Fault::Silent:
        case Fault::FormatReply:
            break;
        default:
            continue;
        }
        if (!f.fire(event)) continue;
        if (f.kind == Fault::Silent) {
            log_.event(peer.id, "fault " + f.given + ": no answer to " + event);
            silent = true;
            continue;
        }
        std::vector<Output> outs = faultFrames(peer, f, self, selfR);
        if (f.pos == Fault::Before) {
            std::move(outs.begin(), outs.end(), std::back_inserter(plan.before));
        } else if (f.pos == Fault::Instead) {
            plan.main = std::move(outs);
        } else {
            for (Output& o : outs) {
                o.delayMs = f.delayMs;
                plan.after.push_back(std::move(o));
            }
        }
    }
    if (silent) plan = Plan{};
}

std::vector<Output> Engine::faultFrames(const Peer& peer, const Fault& f, Session* self,
                                        uint32_t selfR)
{
    Dest d = resolve(f.to, self, selfR);
    const uint32_t zeroIds[4] = {0, 0, 0, 0};
    const uint32_t* ids = self ? self->ids : zeroIds;
    std::string note = "fault " + f.given + ": ";
    switch (f.kind) {
    case Fault::Close:
        log_.event(peer.id, note + "CLOSE " + sid('L', d.L) + " to " + sid('R', d.R));
        if (d.s) close(*d.s);
        return {frameOut(buildSessHdr(kClose, d.L, d.R, config_.locap))};
    case Fault::Pren:
        log_.event(peer.id, note + "PREN '" + std::string(1, f.reason) + "' to " + sid('R', d.R));
        if (d.s) {
            d.s->running = false;
            d.s->current = nullptr;
        }
        return {frameOut(buildPren(d.R, f.reason, f.cda))};
    case Fault::Mcso: {
        // A screen of the named session when the host knows it, else a copy
        // of the current session's screen sent to the given id.
        Session* owner = d.s && (d.s->current || d.s->trx) ? d.s : nullptr;
        Session scratch = self ? *self : Session{};
        if (!owner) {
            scratch.L = d.L;
            scratch.R = d.R;
        }
        Session& who = owner ? *owner : scratch;
        const ScreenDef* sc = who.current ? who.current : who.trx ? script_.screen(who.trx->first) : nullptr;
        ScreenDef blank;
        blank.name = "NOSCREEN";
        log_.event(peer.id, note + "screen " + (sc ? sc->name : blank.name) + " to " + sid('R', d.R));
        return {frameOut(programMessage(who, sc ? *sc : blank, d.R, false))};
    }
    case Fault::Msgo:
        log_.event(peer.id, note + "MSGO");
        return {frameOut(buildMsgo())};
    case Fault::Free:
        log_.event(peer.id, note + "FREE program message to " + sid('R', d.R));
        return {frameOut(buildMcso(d.R, ids, kMcsFromProgram, mcsFunctionIndex('F'), {}))};
    case Fault::FormatReply: {
        // Named as given (else after the session's screen), carrying the
        // format given (else the one of that name).
        const ScreenDef* sc = self && self->current ? self->current : nullptr;
        const std::string name = !f.name.empty() ? f.name : sc ? sc->name : "NOSCREEN";
        FormatRecord rec;
        rec.name = name;
        rec.group = config_.locap;
        std::string why;
        if (!loadFormat(f.form.empty() ? name : f.form, rec, why)) rec.t3z.clear();
        log_.event(peer.id, note + "format reply " + printable(name) + " of " + std::to_string(rec.t3z.size()) +
                                " bytes to " + sid('R', d.R) + (why.empty() ? "" : " (format " + why + ")"));
        Bytes p0;
        appendText(p0, name, 8);
        return {frameOut(buildMcso(d.R, ids, kMcsFormatReply, 0, {{p0}, {buildFormatRecord(rec)}}))};
    }
    case Fault::Garbage: {
        log_.event(peer.id, note + "garbage of kind " + f.garbage);
        if (f.garbage == "short") return {frameOut(Bytes{kAccept, 0, 0})};
        if (f.garbage == "empty") return {frameOut(Bytes{})};
        if (f.garbage == "huge") {
            Bytes raw = {0x7F, 0xFF, 0xFF, 0xF0};
            raw.resize(16, 0xEE);
            return {Output{Output::Raw, raw, 0}, dropOut()};
        }
        if (f.garbage == "mcs") {
            // Five parameters announced, none present.
            Bytes b = buildMcso(d.R, ids, kMcsFromProgram, mcsFunctionIndex('O'), {});
            putU16(b, off::kMcsCount, 5);
            putU16(b, off::kMcsParamBytes, 200);
            return {frameOut(b)};
        }
        if (f.garbage == "function") {
            std::vector<McsParam> empty(5);
            return {frameOut(buildMcso(d.R, ids, kMcsFromProgram, mcsFunctionIndex('A'), empty))};
        }
        Bytes b(kSessHdrSize, 0);
        b[0] = 0xEE;
        putU32(b, 4, d.R);
        return {frameOut(b)};
    }
    default:
        return {};
    }
}

}  // namespace dtphost
