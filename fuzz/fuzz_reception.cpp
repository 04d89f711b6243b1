// Bytes from the unit arriving on the line at arbitrary instants, across tick boundaries, while
// the engine receives, dispatches and waits for web replies.
// Input: reply delay in ticks, then pieces of [gap][length][bytes]: the piece arrives gap * 7 ms
// after the one before.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzEngine.h"

using namespace kv;
using namespace kv::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    FuzzEngine e;
    const int replyDelayTicks = data[0] % 40;
    std::string stream;  // everything the unit sent, in order
    std::int64_t at = e.clock.monotonicMs();
    for (std::size_t i = 1; i + 2 <= size;) {
        at += data[i] * 7;
        const std::size_t n = std::min<std::size_t>(data[i + 1], size - i - 2);
        const std::string piece(reinterpret_cast<const char*>(data + i + 2), n);
        e.line->arrivals.push_back({at, piece});
        stream += piece;
        i += 2 + n;
    }

    std::vector<CommandFrame> dispatched;
    std::size_t shown = 0;
    int requestAge = 0;
    // Everything has arrived, a frame read has had its 3 s, a reply its 30 s.
    const std::int64_t end = at + 40'000;
    Engine& g = *e.engine;
    while (e.clock.monotonicMs() < end) {
        g.countIdle();
        g.settleCountdown();
        g.periodicStep();
        g.searchMarker();
        g.readFrame();
        // A frame is acted on exactly when its code is shown.
        const auto& statrj = e.fields.history(Field::statrj);
        if (statrj.size() > shown) {
            require(statrj.size() == shown + 1, "two frames acted on in one tick");
            shown = statrj.size();
            dispatched.push_back(g.state().frame);
        }
        if (e.http.running() && ++requestAge > replyDelayTicks) {
            e.http.complete({});
            requestAge = 0;
        }
        g.awaitReply();
        g.processReply();
        g.triggerFileCheck();
        g.tableSyncStep();
        e.clock.advanceMs(100);
        if (e.line->arrivals.empty() && e.line->input.empty() && !g.inputWaiting() &&
            g.state().receiveSettle == 0 && g.state().requestKind == RequestKind::None)
            break;
    }
    require(e.line->arrivals.empty() && !g.inputWaiting() && g.state().receiveSettle == 0,
            "input from the unit still unread 40 s after the last byte");

    // Each frame acted on is 16 bytes that arrived together right behind a 'Z', in order.
    std::size_t from = 0;
    for (const CommandFrame& f : dispatched) {
        const std::string wanted =
            "Z" + std::string(reinterpret_cast<const char*>(f.bytes.data()), f.bytes.size());
        const std::size_t found = stream.find(wanted, from);
        require(found != std::string::npos,
                "a frame acted on that did not arrive as sent: " + hexDump(f.bytes));
        from = found + 1;
    }
    framesSent(e.line->written);
    return 0;
}
