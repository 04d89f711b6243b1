// The frame codecs, the Windows-1250 text codec and the table-record parsers.
// Input: selector byte, then the text or bytes the codec is given.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzEngine.h"
#include "link/Cp1250.h"
#include "link/NumberText.h"
#include "sync/RequestUrls.h"
#include "sync/Statistics.h"
#include "sync/TableRecords.h"

using namespace kv;
using namespace kv::fuzz;

namespace {

CommandFrame leftOver() {
    CommandFrame frame;
    for (int n = 1; n <= 16; ++n) frame[n] = static_cast<std::uint8_t>(0xE0 + n);
    return frame;
}

// A record fills bytes 2 to lastByte or leaves the frame as it was.
void checkRecord(bool (*parse)(std::string_view, CommandFrame&), std::string_view line,
                 int lastByte) {
    CommandFrame frame = leftOver();
    const bool ok = parse(line, frame);
    const CommandFrame before = leftOver();
    if (!ok) {
        require(frame == before, "a refused record changed the frame");
        return;
    }
    require(frame[1] == before[1], "a record changed the FrameCode");
    for (int n = lastByte + 1; n <= 16; ++n)
        require(frame[n] == before[n], "a record changed byte " + std::to_string(n));
    require(std::count(line.begin(), line.end(), '|') >= 4,
            "a record accepted without its five fields");
}

CommandFrame frameFrom(std::string_view bytes) {
    CommandFrame f;
    for (std::size_t i = 0; i < f.bytes.size() && i < bytes.size(); ++i)
        f.bytes[i] = static_cast<std::uint8_t>(bytes[i]);
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    quietLog();
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 6) {
        case 0:
            checkRecord(parseSection1Record, text, 14);
            break;
        case 1:
            checkRecord(parseSection2Record, text, 8);
            break;
        case 2: {
            // Every byte value survives the way through the window and back.
            require(toCp1250(fromCp1250(text)) == text,
                    "Windows-1250 text changed on its way back");
            // The name is cut or blank-filled to the 15 places of the display.
            CommandFrame f = leftOver();
            pridejmeno(f, text);
            require(f[1] == leftOver()[1], "the name changed the FrameCode");
            for (std::size_t k = 0; k < 15; ++k)
                require(f[int(k) + 2] ==
                            std::uint8_t(k < text.size() ? stripCzechDiacritic(text[k]) : ' '),
                        "the name is not in bytes 2 to 16");
            break;
        }
        case 3: {
            std::string hex(text.substr(0, 4));
            const auto value = hextodec(hex);
            if (value)
                require(hextodec(hex) == value && dectohex(*value).size() == 2,
                        "hex does not read back");
            const auto balance = encodeBalance(text);
            if (balance)
                require(!text.empty() && allDigits(text.substr(text[0] == '-'), 10),
                        "balance accepted: not a number");
            const auto n = parseInt32(text);
            if (n) require(parseInt32(std::to_string(*n)) == n, "integer does not read back");
            break;
        }
        case 4: {
            // Frames from the unit as the engine shows and forwards them.
            const CommandFrame f = frameFrom(text);
            statisticsUpdates(f);
            chipStatisticsUpdates(f);
            require(chipText(f).size() == 12, "a chip number that is not 12 digits");
            const RequestSettings s{"http://127.0.0.1/",
                                    Bytes(text.substr(16 < text.size() ? 16 : text.size())),
                                    f.word(15)};
            eventUrl(s, f);
            cardEventUrl(s, f);
            clockReportUrl(s, f);
            pollUrl(s);
            recalculationUrl(s);
            break;
        }
        default: {
            const CommandFrame f = frameFrom(text);
            require(hexDump(f.bytes).size() == 16 * 3 - 1,
                    "hex dump of a frame has the wrong length");
            // A time stamp read from a frame is written back byte for byte.
            CommandFrame g = f;
            putTimeStamp(g, 2, timeStampAt(f, 2));
            require(g == f, "a time stamp does not write back as it was read");
            require(wireForm(f)[0] == 0xF0 && wireForm(f)[2] == 0xA5,
                    "wire form without its header");
            break;
        }
    }
    return 0;
}
