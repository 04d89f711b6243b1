#pragma once

#include <cstdint>

namespace kv {

// Byte 1 of a frame.  The unit uses the same numbers in both directions with different
// meanings: a code-3 frame to the unit is a table record, from the unit a statistics report.

// Frames the bridge sends to the unit.
enum class ToUnit : std::uint8_t {
    SetClock = 1,              // time stamp: the unit sets its clock
    TablesBegin = 2,           // a table download starts
    Section1Record = 3,        // one record of the first table section
    Section2Record = 4,        // one record of the second table section
    TablesEnd = 5,             // the table download is complete
    Answer = 6,                // answer to an event, with or without the worker's name
    TablesChanged = 7,         // new tables are ready: the unit asks for them
    StatisticsRequest = 8,     // the unit reports its statistics
    ChipNumberRequest = 9,     // the unit reports the last chip number read
    FictitiousEvent = 10,      // a made-up event, for testing the unit's memory
    StartOfCommunication = 11  // sent at every start, with the time stamp
};

// Frames the unit sends to the bridge.
enum class FromUnit : std::uint8_t {
    TableRequest = 1,  // the unit asks for its tables
    Event = 2,         // an identification at a terminal, with event index
    Statistics = 3,    // memory positions, error and transmission counts
    ChipNumber = 4,    // the last chip number read
    CardEvent = 5,     // an identification with the card number
    ClockReport = 6    // the unit's clock, acted on only when byte 2 is 1
};

}  // namespace kv
