#pragma once

#include <cstdint>

namespace kv {

// Byte 1 of a frame.  The unit uses the same numbers in both directions with different
// meanings: a code-3 frame to the unit is a table record, from the unit a statistics report.

// Frames the bridge sends to the unit.
enum class ToUnit : std::uint8_t {
    setClock = 1,              // time stamp: the unit sets its clock
    tablesBegin = 2,           // a table download starts
    section1Record = 3,        // one record of the first table section
    section2Record = 4,        // one record of the second table section
    tablesEnd = 5,             // the table download is complete
    answer = 6,                // answer to an event, with or without the worker's name
    tablesChanged = 7,         // new tables are ready: the unit asks for them
    statisticsRequest = 8,     // the unit reports its statistics
    chipNumberRequest = 9,     // the unit reports the last chip number read
    fictitiousEvent = 10,      // a made-up event, for testing the unit's memory
    startOfCommunication = 11  // sent at every start, with the time stamp
};

// Frames the unit sends to the bridge.
enum class FromUnit : std::uint8_t {
    tableRequest = 1,  // the unit asks for its tables
    event = 2,         // an identification at a terminal, with event index
    statistics = 3,    // memory positions, error and transmission counts
    chipNumber = 4,    // the last chip number read
    cardEvent = 5,     // an identification with the card number
    clockReport = 6    // the unit's clock, acted on only when byte 2 is 1
};

}  // namespace kv
