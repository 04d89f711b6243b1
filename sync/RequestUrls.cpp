#include "sync/RequestUrls.h"

#include <string>

#include "link/EventFields.h"

namespace kv {

namespace {

Bytes num(unsigned value) { return std::to_string(value); }

Bytes script(const RequestSettings& settings, const char* command) {
    return settings.adresa + "kvsync.php" + command;
}

bool sendsHost(const RequestSettings& settings) {
    // Compared byte for byte: "LOCALHOST" or " localhost" goes to the web application as typed.
    return !settings.httphost.empty() && settings.httphost != "localhost";
}

// The event's date and time from its time stamp.
// The URL value carries the one fixed escape "%20"; the display uses the window's own format.
struct EventTime {
    Bytes urlValue;
    Bytes display;
};

EventTime eventTime(const WallTime& t) {
    const Bytes h = num(t.hour);
    const Bytes m = num(t.minute);
    const Bytes s = num(t.second);
    const Bytes d = num(t.day);
    const Bytes month = num(t.month);
    const Bytes y = num(t.year);
    const Bytes clock = h + ":" + m + ":" + s;
    return {y + "-" + month + "-" + d + "%20" + clock, d + "." + month + "." + y + " " + clock};
}

}  // namespace

Bytes commonTail(const RequestSettings& settings) {
    Bytes tail;
    if (sendsHost(settings)) tail += "&httphost=" + settings.httphost;
    if (settings.companyId != 0) tail += "&firma=" + num(settings.companyId);
    return tail;
}

Bytes pollUrl(const RequestSettings& settings) {
    return script(settings, "?prikaz=4") + commonTail(settings);
}

Bytes tablesUrl(const RequestSettings& settings) {
    return script(settings, "?prikaz=1") + commonTail(settings);
}

EventRequest eventUrl(const RequestSettings& settings, const CommandFrame& frame) {
    const EventTime when = eventTime(event::time(frame));
    Bytes url = script(settings, "?prikaz=2");
    url += "&indexza=" + num(event::index(frame));
    url += "&kod=" + num(event::code(frame));
    url += "&typpr=" + num(event::kind(frame));
    url += "&misto=" + num(event::place(frame));
    url += "&datum=" + when.urlValue;
    url += commonTail(settings);
    return {url, when.display};
}

EventRequest cardEventUrl(const RequestSettings& settings, const CommandFrame& frame) {
    const EventTime when = eventTime(cardEvent::time(frame));
    Bytes url = script(settings, "?prikaz=6");
    url += "&karta=" + cardEvent::cardText(frame);
    url += "&kod=" + num(cardEvent::code(frame));
    url += "&typpr=" + num(cardEvent::kind(frame));
    url += "&misto=" + num(cardEvent::place(frame));
    url += "&datum=" + when.urlValue;
    url += commonTail(settings);
    return {url, when.display};
}

Bytes clockReportUrl(const RequestSettings& settings, const CommandFrame& frame) {
    Bytes url = script(settings, "?prikaz=7");
    url += "&rok=" + num(frame[clockReport::kActByte]);
    url += "&mes=" + num(frame[clockReport::kMonthByte]);
    url += "&den=" + num(frame[clockReport::kDayByte]);
    url += "&hod=" + num(frame[clockReport::kHourByte]);
    url += "&min=" + num(frame[clockReport::kMinuteByte]);
    url += "&sec=" + num(frame[clockReport::kSecondByte]);
    url += commonTail(settings);
    return url;
}

Bytes recalculationUrl(const RequestSettings& settings) {
    // Unlike the synchronisation requests the company always goes first, and 0 means company 1.
    Bytes url = settings.adresa + "gcalc.php?";
    url += "firma=" + num(settings.companyId != 0 ? settings.companyId : 1u);
    if (sendsHost(settings)) url += "&httphost=" + settings.httphost;
    return url;
}

}  // namespace kv
