#include "app/FieldStore.h"

#include <QLoggingCategory>

#include "app/Logging.h"
#include "link/Cp1250.h"

namespace kv {

FieldStore::FieldStore() {
    m_texts[Field::cfgadresa] = "http://localhost/kordavoweb/";
    m_texts[Field::cfghttphost] = "127.0.0.1";
    m_texts[Field::idfirmy] = "0";
    m_texts[Field::fiktud] = "0";
    m_checks[Check::stavstoji] = true;
}

Bytes FieldStore::text(Field field) const {
    const auto it = m_texts.find(field);
    return it == m_texts.end() ? Bytes{} : it->second;
}

void FieldStore::setText(Field field, std::string_view cp1250, Tone /*tone*/) {
    Bytes& text = m_texts[field];
    if (text == cp1250) return;
    text = Bytes(cp1250);
    // What the operator would read in the state fields; the rest is logged where it happens.
    if (field == Field::stavprac || field == Field::stavdatum || field == Field::stavcip)
        qCInfo(lcApp).noquote() << fieldName(field).data() << "=" << fromCp1250(cp1250);
}

bool FieldStore::checked(Check check) const {
    const auto it = m_checks.find(check);
    return it != m_checks.end() && it->second;
}

void FieldStore::setChecked(Check check, bool on) {
    if (on) {
        for (int port = 1; port <= 4; ++port)
            if (portCheck(port) == check)
                for (int other = 1; other <= 4; ++other) m_checks[portCheck(other)] = false;
        if (check == Check::stavstoji) m_checks[Check::stavjede] = false;
        if (check == Check::stavjede) m_checks[Check::stavstoji] = false;
    }
    m_checks[check] = on;
}

}  // namespace kv
