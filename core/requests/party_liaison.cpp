#include "core/requests/party_liaison.h"

namespace zel {

bool isValidPartiesText(const char* text)
{
    if (text == nullptr || *text == '\0')
        return false;
    const char* p = text;
    while (*p != '\0') {
        if (*p++ != '[')
            return false;
        int fields = 0;
        for (;;) {
            const char* start = p;
            while (*p != '\0' && *p != '[' && *p != ']' && *p != ',')
                ++p;
            if (p == start)
                return false;  // an empty field, or the text ended inside the group
            ++fields;
            if (*p == ',') {
                ++p;
                continue;
            }
            if (*p != ']')
                return false;
            ++p;
            break;
        }
        if (fields < 3)
            return false;
    }
    return true;
}

void PartyLiaison::setOrigination(const char* origination)
{
    m_origination = origination != nullptr ? origination : "";
}

std::string PartyLiaison::makeParties(const char* extraParties)
{
    std::string parties = "[";
    parties += PARTY_ID;
    parties += ",C,13,";
    parties += m_origination;
    parties += ",4]";
    if (isValidPartiesText(extraParties))
        parties += extraParties;
    resetOrigination();
    return parties;
}

} // namespace zel
