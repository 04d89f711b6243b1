#include "support/MapFields.h"

namespace kv::test {

MapFields::MapFields() {
    m_texts[Field::cfgadresa] = "http://localhost/kordavoweb/";
    m_texts[Field::cfghttphost] = "127.0.0.1";
    m_texts[Field::idfirmy] = "0";
    m_texts[Field::fiktud] = "0";
    m_texts[Field::stavprac] = "Pracovn\xEDk";
    m_texts[Field::stavdatum] =
        "Datum a \xE8"
        "as ";
    m_texts[Field::stavcip] = "\xC8\xEDslo \xE8ipu";
    m_texts[Field::urls] = "HTTP pozadavek";
    for (Field f :
         {Field::statram, Field::statneterr, Field::statout, Field::statadr, Field::statwramt,
          Field::statsubj, Field::statopr, Field::statud, Field::statfree, Field::statfreeid,
          Field::statlost, Field::statpc, Field::statrj})
        m_texts[f] = "??";
    m_checks[Check::stavstoji] = true;
}

Bytes MapFields::text(Field field) const {
    auto it = m_texts.find(field);
    return it == m_texts.end() ? Bytes{} : it->second;
}

void MapFields::setText(Field field, std::string_view cp1250, Tone tone) {
    m_tones[field] = tone;
    m_texts[field] = Bytes(cp1250);
    m_history[field].emplace_back(cp1250);
}

bool MapFields::checked(Check check) const {
    auto it = m_checks.find(check);
    return it != m_checks.end() && it->second;
}

void MapFields::setChecked(Check check, bool on) {
    static constexpr Check ports[] = {Check::cfgport1, Check::cfgport2, Check::cfgport3,
                                      Check::cfgport4};
    if (on) {
        bool isPort = false;
        for (Check p : ports) isPort = isPort || p == check;
        if (isPort)
            for (Check p : ports) m_checks[p] = false;
        if (check == Check::stavstoji) m_checks[Check::stavjede] = false;
        if (check == Check::stavjede) m_checks[Check::stavstoji] = false;
    }
    m_checks[check] = on;
}

const std::vector<Bytes>& MapFields::history(Field field) const {
    static const std::vector<Bytes> none;
    auto it = m_history.find(field);
    return it == m_history.end() ? none : it->second;
}

}  // namespace kv::test
