#pragma once

#include <string_view>

#include "link/CommandFrame.h"
#include "sync/BridgeStatus.h"

namespace kv {

// The window's text fields that the engine and the shell read and write, by their names.
enum class Field {
    cfgadresa,
    cfghttphost,
    idfirmy,
    fiktud,
    stavprac,
    stavdatum,
    stavcip,
    urls,
    statram,
    statneterr,
    statout,
    statadr,
    statwramt,
    statsubj,
    statopr,
    statud,
    statfree,
    statfreeid,
    statlost,
    statpc,
    statrj,
};

// The window's check boxes and radio buttons.
enum class Check {
    cfgport1,
    cfgport2,
    cfgport3,
    cfgport4,
    slowstart,
    slowcom,
    cas5min,
    cfgstart,
    stavstoji,
    stavjede,
};

std::string_view fieldName(Field field);
std::string_view checkName(Check check);

// The radio button of port 1 to 4.
Check portCheck(int port);

// The window seen by the engine: texts are Windows-1250 bytes.  Selecting a radio button clears
// the others of its group (cfgport1..4; stavstoji/stavjede).
class Fields {
public:
    virtual ~Fields() = default;
    virtual Bytes text(Field field) const = 0;
    // The tone says how the text strikes the reader (a refused identification, a time-out),
    // whatever its words are.
    virtual void setText(Field field, std::string_view cp1250, Tone tone) = 0;
    void setText(Field field, std::string_view cp1250) { setText(field, cp1250, Tone::normal); }
    virtual bool checked(Check check) const = 0;
    virtual void setChecked(Check check, bool on) = 0;
};

// The one answer to "which port is chosen": 1 to 4, 0 when none.
int selectedPort(const Fields& fields);

}  // namespace kv
