// terminal.cfg as the program start reads it: any bytes, any length, from the file.
#include <cstddef>
#include <cstdint>
#include <fstream>

#include "fuzz/FuzzEngine.h"
#include "sync/Files.h"
#include "sync/TerminalConfig.h"

using namespace kv;
using namespace kv::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = (emptyScratchDir(), true);
    (void)ready;
    const std::filesystem::path cfg = scratchDir() / "terminal.cfg";
    {
        std::ofstream out(cfg, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const Bytes bytes = readWholeFile(cfg);
    require(bytes.size() == size, "terminal.cfg not read whole");
    const TerminalConfig c = parseTerminalConfig(bytes);

    const Bytes* lines[] = {&c.port,    &c.adresa,    &c.httphost, &c.start,
                            &c.idfirmy, &c.slowstart, &c.slowcom,  &c.cas5min};
    std::size_t total = 0;
    for (const Bytes* line : lines) {
        require(line->find('\r') == Bytes::npos, "a CR inside a line");
        require(line->find('\x1A') == Bytes::npos, "a Ctrl-Z inside a line");
        total += line->size();
    }
    require(total <= size || total <= size + 3, "lines longer than the file");

    // What the window saves, the next start reads back unchanged (a line that starts with LF
    // cannot survive: the LF is taken as the end of the line before).
    bool lfFirst = false;
    for (const Bytes* line : lines) lfFirst = lfFirst || (!line->empty() && line->front() == '\n');
    if (!lfFirst)
        require(parseTerminalConfig(formatTerminalConfig(c)) == c,
                "terminal.cfg does not read back as it was written");

    // The company id as the start takes it.
    if (const auto id = parseIntegerText(c.idfirmy)) {
        const Bytes again = std::to_string(*id);
        require(parseIntegerText(again) == id, "the company id does not read back: " + again);
    }
    return 0;
}
