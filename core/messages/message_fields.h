#pragma once
// Reading fields of incoming messages into owned texts.

#include <string>

#include "merrow/message.h"

namespace zel {

// Copies the text of a field, all its bytes (a payload may hold NUL bytes); false,
// leaving *out alone, when the group is null or the field absent or a group list.
inline bool readFieldText(const merrow::IFieldGroup* group, int tag, std::string* out)
{
    if (group == nullptr)
        return false;
    const merrow::IField* field = group->getField(tag);
    if (field == nullptr)
        return false;
    const char* value = field->getValue();
    if (value == nullptr)
        return false;
    out->assign(value, field->getLength());
    return true;
}

// The text of a field, "" when absent.
inline std::string fieldTextOrEmpty(const merrow::IFieldGroup* group, int tag)
{
    std::string s;
    readFieldText(group, tag, &s);
    return s;
}

} // namespace zel
