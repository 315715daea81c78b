#pragma once
// How the positional fields of a result-set line land in a record: per field
// number, the member it fills and its conversion. Lookup is one index per field, so
// a line is stored in one pass without searching.
//
// Conversions: text as is; number and integer from their leading part (0 when
// there is none), the same in every locale; time from the DAS time stamp (the
// empty date when unreadable); flag true exactly when the first character is "Y".
// [Threading] A map is built once (function-local statics) and only read.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/messages/time_utils.h"
#include "core/messages/wire_values.h"

namespace zel {

enum class FieldConversion : uint8_t { None, Text, Number, Integer, Time, Flag };

template <class R>
struct FieldRule {
    int field = -1;
    FieldConversion conversion = FieldConversion::None;
    std::string R::*text = nullptr;
    double R::*real = nullptr;
    int32_t R::*integer = nullptr;
    bool R::*flag = nullptr;
};

template <class R>
FieldRule<R> textField(int field, std::string R::*m)
{
    FieldRule<R> r;
    r.field = field;
    r.conversion = FieldConversion::Text;
    r.text = m;
    return r;
}
template <class R>
FieldRule<R> numberField(int field, double R::*m)
{
    FieldRule<R> r;
    r.field = field;
    r.conversion = FieldConversion::Number;
    r.real = m;
    return r;
}
template <class R>
FieldRule<R> timeField(int field, double R::*m)
{
    FieldRule<R> r = numberField(field, m);
    r.conversion = FieldConversion::Time;
    return r;
}
template <class R>
FieldRule<R> integerField(int field, int32_t R::*m)
{
    FieldRule<R> r;
    r.field = field;
    r.conversion = FieldConversion::Integer;
    r.integer = m;
    return r;
}
template <class R>
FieldRule<R> flagField(int field, bool R::*m)
{
    FieldRule<R> r;
    r.field = field;
    r.conversion = FieldConversion::Flag;
    r.flag = m;
    return r;
}

template <class R>
class FieldMap {
public:
    FieldMap(std::initializer_list<FieldRule<R>> rules)
    {
        for (const FieldRule<R>& r : rules) {
            if (r.field < 0)
                continue;
            if (static_cast<size_t>(r.field) >= m_byField.size())
                m_byField.resize(static_cast<size_t>(r.field) + 1);
            m_byField[static_cast<size_t>(r.field)] = r;
        }
    }

    // True when the field is one the map stores.
    bool has(int field) const
    {
        return field >= 0 && static_cast<size_t>(field) < m_byField.size() &&
               m_byField[static_cast<size_t>(field)].conversion != FieldConversion::None;
    }

    // Fields the map does not name are ignored.
    void store(R& record, int field, const char* text, size_t length) const
    {
        if (!has(field))
            return;
        const FieldRule<R>& r = m_byField[static_cast<size_t>(field)];
        switch (r.conversion) {
        case FieldConversion::Text: (record.*r.text).assign(text, length); break;
        case FieldConversion::Number: record.*r.real = parseWireDouble(text); break;
        case FieldConversion::Integer: record.*r.integer = parseWireInt(text); break;
        case FieldConversion::Time:
            record.*r.real = TimeUtils::parseQORADasMessageTimeStamp(text).getSerial();
            break;
        case FieldConversion::Flag: record.*r.flag = text[0] == 'Y'; break;
        case FieldConversion::None: break;
        }
    }

private:
    std::vector<FieldRule<R>> m_byField;
};

} // namespace zel
