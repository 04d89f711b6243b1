#pragma once

#include <string>

#include "sync/Bridge.h"
#include "sync/Engine.h"

namespace kv::test {

// Tests and fuzz targets set up states that take long to reach through the wire (an idle count
// just below the poll, a request under way); nothing else writes the engine's state.
struct EngineProbe {
    static ServerExchange& exchange(Engine& engine) { return engine.m_exchange; }
    static TableSignalling& tables(Engine& engine) { return engine.m_tables; }
    static CommandFrame& frame(Engine& engine) { return engine.m_frame; }
    static void setCommState(Engine& engine, CommState state, const std::string& cause = {}) {
        engine.setCommState(state, cause);
    }
    // A field as an earlier step would have left it.
    static void show(Engine& engine, Field field, std::string_view cp1250) {
        engine.show(field, cp1250);
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
