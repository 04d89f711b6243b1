// The log tells a run in the unit's terms: each frame decoded.
#include <gtest/gtest.h>

#include "support/EngineHarness.h"
#include "sync/EventLog.h"

namespace kv::test {
namespace {

struct FrameLine {
    const char* name;
    bool fromUnit;
    CommandFrame frame;
    const char* line;
};

TEST(EventLog, FramesAreDescribedInTheUnitsTerms) {
    const FrameLine rows[] = {
        {"event asking for the name", true, frameOf({2, 0, 12, 3, 1, 2, 11, 4, 9, 7, 12, 26, 1}),
         "event 12 from the unit: kod 3, type 1, place 2, 7.12.2026 11:04:09, name asked for"},
        {"card event, card low byte first", true,
         frameOf({5, 0xD4, 0xC3, 0xB2, 0xA1, 0, 0, 4, 1, 2, 8, 30, 0, 7, 12, 26}),
         "card event from the unit: card 0000A1B2C3D4, kod 4, type 1, place 2, 7.12.2026 8:30:00"},
        {"clock report acted on", true, frameOf({6, 1, 12, 7, 9, 5, 3}),
         "clock report from the unit: 7.12. 9:05:03"},
        {"table request", true, frameOf({1}), "table request from the unit"},
        {"answer with a name", false,
         frameOf({6, 'J', 'i', 'r', 'i', ' ', 'D', 'v', 'o', 'r', 'a', 'k', ' ', ' ', ' ', ' '}),
         "answer to the unit: accepted, name \"Jiri Dvorak\""},
        {"answer without a name", false, frameOf({6, 0}), "answer to the unit: accepted"},
        {"table records are counted, not logged", false, frameOf({3, 1, 2}), ""},
    };
    for (const FrameLine& row : rows) {
        SCOPED_TRACE(row.name);
        const QString line = row.fromUnit ? describeFromUnit(row.frame) : describeToUnit(row.frame);
        EXPECT_EQ(line.toStdString(), row.line);
    }
}

}  // namespace
}  // namespace kv::test
