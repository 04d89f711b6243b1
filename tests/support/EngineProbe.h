#pragma once

#include <string>

#include "sync/Bridge.h"
#include "sync/Engine.h"

namespace kv::test {

// Tests and fuzz targets set up states that take long to reach through the wire (an idle count
// just below the poll, a request under way); nothing else writes the engine's state.
struct EngineProbe {
    static void setIdleTicks(Engine& engine, std::uint16_t ticks) { engine.m_idleTicks = ticks; }
    static void setNameRequested(Engine& engine, std::uint8_t asked) {
        engine.m_nameRequested = asked;
    }
    // A reply of this kind complete in get.txt, as the HTTP control leaves it.
    static void replyArrived(Engine& engine, RequestKind kind) {
        engine.m_exchange.m_phase = ServerPhase::replyReady;
        engine.m_exchange.m_kind = kind;
    }
    static TableSignalling& tables(Engine& engine) { return engine.m_tables; }
    static CommandFrame& frame(Engine& engine) { return engine.m_frame; }
    static void setCommState(Engine& engine, CommState state, const std::string& cause = {}) {
        engine.m_view.setState(state, cause);
    }
    // Single steps of the tick, for what happens between them (input arriving mid-tick).
    static void countIdle(Engine& engine) { engine.countIdle(); }
    static void periodicStep(Engine& engine) { engine.periodicStep(); }
    static void awaitReply(Engine& engine) { engine.awaitReply(); }
    static void processReply(Engine& engine) { engine.processReply(); }
    static void purgeInput(Engine& engine) { engine.purgeInput(); }
    static bool issueRequest(Engine& engine, const Bytes& url, RequestKind kind) {
        return engine.issueRequest(url, kind);
    }
    static std::uint16_t companyId(const Engine& engine) { return engine.m_companyId; }
    // A field as an earlier step would have left it.
    static void show(Engine& engine, Field field, std::string_view cp1250) {
        engine.m_view.show(field, cp1250);
    }
};

// What a bridge runs, seen from outside: its engine for states that take long to reach, its
// port, and whether its tick is running.
struct BridgeProbe {
    static Engine& engine(Bridge& bridge) { return *bridge.m_engine; }
    // Its port, to hear when input has come in over a real line.
    static TQCCom32& port(Bridge& bridge) { return *bridge.m_com; }
    static bool ticking(const Bridge& bridge) { return bridge.m_tick.isActive(); }
};

}  // namespace kv::test
