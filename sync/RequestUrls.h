#pragma once

#include <cstdint>

#include "link/CommandFrame.h"

namespace kv {

// What every request takes from the window and the last Start.
struct RequestSettings {
    Bytes adresa;    // cfgadresa as typed, a usable one ends with "/"
    Bytes httphost;  // cfghttphost as typed
    std::uint16_t companyId = 0;
};

// A request URL and, for events, the event's date and time for stavdatum ("d.M.Y h:m:s").
struct EventRequest {
    Bytes url;
    Bytes stavdatum;
};

// "&httphost=<host>" unless the host is empty or exactly "localhost", then "&firma=<id>" unless
// the company id is 0.  Nothing is escaped.
Bytes commonTail(const RequestSettings& settings);

Bytes pollUrl(const RequestSettings& settings);                                         // ?prikaz=4
Bytes tablesUrl(const RequestSettings& settings);                                       // ?prikaz=1
EventRequest eventUrl(const RequestSettings& settings, const CommandFrame& frame);      // ?prikaz=2
EventRequest cardEventUrl(const RequestSettings& settings, const CommandFrame& frame);  // ?prikaz=6
Bytes clockReportUrl(const RequestSettings& settings, const CommandFrame& frame);       // ?prikaz=7
// gcalc.php?firma=<id, 1 for 0>[&httphost=<host>]
Bytes recalculationUrl(const RequestSettings& settings);

}  // namespace kv
