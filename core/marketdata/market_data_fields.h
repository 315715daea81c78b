#pragma once
// Small helpers shared by the market-data messages: the server's date and time
// texts and the one-character entry types.

#include <string>

#include "merrow/message.h"

namespace zel {

// "YYYYMMDD" and "hh:mm:ss" of a serial taken as UTC; "" for a serial outside the
// range of dates.
std::string formatWireDate(double serial);
std::string formatWireTime(double serial);
// The entry type of an entry (FLDTAG_MDENTRYTYPE), or '\0' when the field is absent
// or not exactly one character.
char readEntryType(const merrow::IFieldGroup* entry);
// Sets FLDTAG_MDENTRYTYPE to the one-character text.
void writeEntryType(merrow::IFieldGroup* entry, char type);
// Subscription types by index (0 snapshot, 1 subscribe, 2 unsubscribe) and back:
// the wire value of an index in 0..2, and the index of a message's
// FLDTAG_SUBSCRIPTIONREQUESTTYPE, -1 when absent or not one of the three.
int subscriptionTypeToWire(int index);
int subscriptionTypeIndex(const merrow::IFieldGroup* message);
// The field's text, or null when absent or empty.
const char* nonEmptyValue(const merrow::IFieldGroup* group, int tag);

} // namespace zel
