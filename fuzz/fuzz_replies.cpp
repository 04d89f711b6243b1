// A whole reply of the attendance server for each kind of request, as the engine receives it:
// the request is issued, the download ends (complete with a status, or failed), one tick runs.
// Input: kind selector, flags, reply body.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzEngine.h"
#include "support/EngineProbe.h"

using namespace kv;
using namespace kv::fuzz;

namespace {

constexpr RequestKind kKinds[] = {RequestKind::tables, RequestKind::event,
                                  RequestKind::recalculation, RequestKind::poll,
                                  RequestKind::clockReport};
constexpr int kStatuses[] = {200, 200, 204, 404, 500, 503, 301, 200};

std::string codes(const std::vector<CommandFrame>& frames) {
    std::string text;
    for (const CommandFrame& f : frames) text += std::to_string(f.code()) + " ";
    return text;
}

std::size_t lineCount(const std::string& body) {
    std::size_t n = 1;
    for (char c : body) n += c == '\r' || c == '\n';
    return n;
}

// Table download: TablesBegin, records, TablesEnd, and only from a table reply the server
// answered whole with 2xx; second-section records only after the separator line; never more
// records than the reply has lines.  A download that cannot be made tells the unit that tables
// are waiting (TablesChanged), so that it asks again.
void checkTables(std::vector<CommandFrame> frames, const std::string& body, bool succeeded) {
    if (!frames.empty() && frames.back().toUnitCode() == ToUnit::tablesChanged) {
        require(frames.size() == 1, "FrameCode 7 after a table download: " + codes(frames));
        return;
    }
    if (frames.empty()) return;
    const std::string seq = codes(frames);
    require(succeeded, "a table download from a failed request: " + seq);
    require(frames.front().toUnitCode() == ToUnit::tablesBegin,
            "a table download that does not start with FrameCode 2: " + seq);
    require(frames.size() >= 2 && frames.back().toUnitCode() == ToUnit::tablesEnd,
            "FrameCode 2 without its FrameCode 5: " + seq);
    bool second = false;
    for (std::size_t i = 1; i + 1 < frames.size(); ++i) {
        const ToUnit c = frames[i].toUnitCode();
        require(c == ToUnit::section1Record || c == ToUnit::section2Record,
                "frame code " + std::to_string(frames[i].code()) + " inside a table download");
        require(!(second && c == ToUnit::section1Record),
                "a first-section record after the second");
        second = second || c == ToUnit::section2Record;
    }
    require(!second || body.find("-------") != std::string::npos,
            "a second-section record without the separator line");
    require(frames.size() - 2 <= lineCount(body), "more records than reply lines");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const RequestKind kind = kKinds[data[0] % std::size(kKinds)];
    const std::uint8_t flags = data[1];
    const std::string body(reinterpret_cast<const char*>(data + 2), size - 2);

    FuzzEngine e;
    TerminalConfig settings = e.engine->settings();
    settings.slowcom = (flags & 0x01) ? "1" : "0";
    e.engine->setSettings(settings);
    const std::uint8_t nameRequested = (flags & 0x02) ? 1 : 0;
    test::EngineProbe::setNameRequested(*e.engine, nameRequested);
    test::EngineProbe::frame(*e.engine)[13] = nameRequested;
    if (!test::EngineProbe::issueRequest(*e.engine, "http://127.0.0.1/kvsync.php?prikaz=1", kind))
        return 0;
    e.tick();  // the request is under way
    const int status = kStatuses[(flags >> 4) & 7];
    const bool succeeded = !(flags & 0x80) && status >= 200 && status < 300;
    if (flags & 0x80)
        e.http.fail();
    else
        e.http.complete(body, status);
    // The reply is taken within a few ticks (a failure at the latest when its deadline passes).
    for (int i = 0; i < 400 && e.engine->status().requestUnderWay; ++i) e.tick();

    require(!e.engine->status().requestUnderWay && !e.engine->requestOutstanding(),
            "the reply left a request outstanding");
    std::error_code ec;
    require(!std::filesystem::exists(scratchDir() / "work" / "get.txt", ec) &&
                !std::filesystem::exists(scratchDir() / "work" / "get.tmp", ec),
            "the reply files outlived the reply");

    const std::vector<CommandFrame> frames = framesSent(e.line->written);
    const std::string seq = codes(frames);
    switch (kind) {
        case RequestKind::tables:
            checkTables(frames, body, succeeded);
            break;
        case RequestKind::event:
            require(
                frames.empty() || (frames.size() == 1 && frames[0].toUnitCode() == ToUnit::answer),
                "an event reply sent " + seq);
            require(frames.empty() || (succeeded && body.find("---OK---") != std::string::npos),
                    "an answer without ---OK--- in a reply the server gave whole");
            break;
        case RequestKind::poll:
            // "tabsync" makes the next step tell the unit at once.
            require(frames.empty() ||
                        (frames.size() == 1 && frames[0].toUnitCode() == ToUnit::tablesChanged),
                    "a poll reply sent " + seq);
            break;
        case RequestKind::clockReport:
            require(frames.empty() ||
                        (frames.size() == 1 && frames[0].toUnitCode() == ToUnit::setClock),
                    "a clock report reply sent " + seq);
            break;
        default:
            require(frames.empty(), "a recalculation reply sent " + seq);
            break;
    }
    return 0;
}
