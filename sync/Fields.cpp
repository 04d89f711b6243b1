#include "sync/Fields.h"

namespace kv {

std::string_view fieldName(Field field) {
    switch (field) {
        case Field::cfgadresa:
            return "cfgadresa";
        case Field::cfghttphost:
            return "cfghttphost";
        case Field::idfirmy:
            return "idfirmy";
        case Field::fiktud:
            return "fiktud";
        case Field::stavprac:
            return "stavprac";
        case Field::stavdatum:
            return "stavdatum";
        case Field::stavcip:
            return "stavcip";
        case Field::urls:
            return "urls";
        case Field::statram:
            return "statram";
        case Field::statneterr:
            return "statneterr";
        case Field::statout:
            return "statout";
        case Field::statadr:
            return "statadr";
        case Field::statwramt:
            return "statwramt";
        case Field::statsubj:
            return "statsubj";
        case Field::statopr:
            return "statopr";
        case Field::statud:
            return "statud";
        case Field::statfree:
            return "statfree";
        case Field::statfreeid:
            return "statfreeid";
        case Field::statlost:
            return "statlost";
        case Field::statpc:
            return "statpc";
        case Field::statrj:
            return "statrj";
    }
    return {};
}

std::string_view checkName(Check check) {
    switch (check) {
        case Check::cfgport1:
            return "cfgport1";
        case Check::cfgport2:
            return "cfgport2";
        case Check::cfgport3:
            return "cfgport3";
        case Check::cfgport4:
            return "cfgport4";
        case Check::slowstart:
            return "slowstart";
        case Check::slowcom:
            return "slowcom";
        case Check::cas5min:
            return "cas5min";
        case Check::cfgstart:
            return "cfgstart";
        case Check::stavstoji:
            return "stavstoji";
        case Check::stavjede:
            return "stavjede";
    }
    return {};
}

Check portCheck(int port) {
    static constexpr Check kPorts[] = {Check::cfgport1, Check::cfgport2, Check::cfgport3,
                                       Check::cfgport4};
    return kPorts[port - 1];
}

int selectedPort(const Fields& fields) {
    for (int port = 1; port <= 4; ++port)
        if (fields.checked(portCheck(port))) return port;
    return 0;
}

}  // namespace kv
