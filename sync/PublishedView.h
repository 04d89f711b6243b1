#pragma once

#include <bitset>
#include <functional>
#include <string>
#include <string_view>

#include "link/Clock.h"
#include "sync/BridgeStatus.h"
#include "sync/Display.h"

namespace kv {

// What the bridge tells of itself, written through this one part: the status (the state, its
// cause and the counts), the display (the texts of the window's fields) and the operator's
// history.  Every change of the status is logged when the state or its cause changed and
// handed to the status listener; every change of a field to the display listener; every
// history line to the history listener.
class PublishedView {
public:
    PublishedView(Clock& clock, std::string instance);

    const BridgeStatus& status() const { return m_status; }
    const Display& display() const { return m_display; }
    using StatusListener = std::function<void(const BridgeStatus& status)>;
    void setStatusListener(StatusListener listener) { m_statusListener = std::move(listener); }
    using DisplayListener = std::function<void(Field field, const ShownText& shown)>;
    void setDisplayListener(DisplayListener listener) { m_displayListener = std::move(listener); }
    using HistoryListener = std::function<void(const HistoryEntry& entry)>;
    void setHistoryListener(HistoryListener listener) { m_historyListener = std::move(listener); }

    // The status edited by edit, then published: a change nobody is told of cannot be made.
    template <class Edit>
    void change(Edit&& edit) {
        edit(m_status);
        publish();
    }
    // A value that rides with the next change, not worth telling by itself (the time of the
    // unit's last frame).
    template <class Edit>
    void record(Edit&& edit) {
        edit(m_status);
    }
    void setState(CommState state, const std::string& cause = {});
    // A warning that stands until the program is started again: logged and noted once.
    void addStandingWarning(const std::string& warning);

    // A field's new text, handed on when it changed; whole: the words its short text stands for.
    void show(Field field, std::string_view cp1250, Tone tone = Tone::normal,
              std::string_view whole = {});
    // A failure's text (the server, the port, the line, the unit's silence), in the failure
    // tone: the text stays until another takes its place, its tone fades to normal when its
    // failure ends.
    void showFault(Field field, std::string_view cp1250, std::string_view whole = {});
    void clearFaults();
    void fadeFault(Field field);
    // Fades the field's failure only while it still shows these words.
    void fadeFaultIf(Field field, std::string_view cp1250);

    // A line of the history.  A failure or a warning repeated is one event (event, when empty:
    // its text); what went well keeps a line of its own.
    void note(const std::string& text, Tone tone = Tone::normal, std::string event = {});

private:
    // Tone recomputed, the change logged and handed on.
    void publish();

    Clock& m_clock;
    BridgeStatus m_status;
    BridgeStatus m_published;
    Display m_display;
    std::bitset<kFieldCount> m_faultShown;  // the field holds a failure's text
    StatusListener m_statusListener;
    DisplayListener m_displayListener;
    HistoryListener m_historyListener;
};

}  // namespace kv
