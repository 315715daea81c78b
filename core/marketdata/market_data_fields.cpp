#include "core/marketdata/market_data_fields.h"

#include <cstdio>
#include <cstring>

#include "merrow/fix_defs.h"
#include "vorntool/date.h"

namespace zel {

namespace {

bool splitSerial(double serial, int& y, int& mo, int& d, int& h, int& mi, int& s)
{
    if (!(serial >= vorntool::date::minDate && serial <= vorntool::date::maxDate))
        return false;
    vorntool::date::split(serial, y, mo, d, h, mi, s);
    return y != 0;
}

} // namespace

std::string formatWireDate(double serial)
{
    int y, mo, d, h, mi, s;
    if (!splitSerial(serial, y, mo, d, h, mi, s))
        return std::string();
    char text[16];
    std::snprintf(text, sizeof text, "%04i%02i%02i", y, mo, d);
    return text;
}

std::string formatWireTime(double serial)
{
    int y, mo, d, h, mi, s;
    if (!splitSerial(serial, y, mo, d, h, mi, s))
        return std::string();
    char text[16];
    std::snprintf(text, sizeof text, "%02i:%02i:%02i", h, mi, s);
    return text;
}

char readEntryType(const merrow::IFieldGroup* entry)
{
    const char* type = entry != nullptr ? entry->getValue(merrow::IFixDefs::FLDTAG_MDENTRYTYPE) : nullptr;
    if (type == nullptr || type[0] == '\0' || type[1] != '\0')
        return '\0';
    return type[0];
}

void writeEntryType(merrow::IFieldGroup* entry, char type)
{
    const char text[2] = {type, '\0'};
    entry->setValue(merrow::IFixDefs::FLDTAG_MDENTRYTYPE, text);
}

const char* nonEmptyValue(const merrow::IFieldGroup* group, int tag)
{
    const char* value = group != nullptr ? group->getValue(tag) : nullptr;
    return value != nullptr && value[0] != '\0' ? value : nullptr;
}

namespace {
const int kSubscriptionTypes[] = {merrow::IFixDefs::SUBSCRIPTIONREQUESTTYPE_SNAPSHOT, merrow::IFixDefs::SUBSCRIPTIONREQUESTTYPE_SUBSCRIBE,
                                  merrow::IFixDefs::SUBSCRIPTIONREQUESTTYPE_UNSUBSCRIBE};
} // namespace

int subscriptionTypeToWire(int index)
{
    return kSubscriptionTypes[index];
}

int subscriptionTypeIndex(const merrow::IFieldGroup* message)
{
    const merrow::IField* type = message->getField(merrow::IFixDefs::FLDTAG_SUBSCRIPTIONREQUESTTYPE);
    if (type == nullptr)
        return -1;
    for (int i = 0; i < 3; ++i)
        if (type->getIntValue() == kSubscriptionTypes[i])
            return i;
    return -1;
}

} // namespace zel
