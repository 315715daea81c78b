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
#include "core/tables/records.h"

namespace zel {

// Text fills a std::string member, RecordTextCopy a RecordText one: both as is.
enum class FieldConversion : uint8_t { None, Text, RecordTextCopy, Number, Integer, Time, Flag };

template <class R>
struct FieldRule {
    int field = -1;
    FieldConversion conversion = FieldConversion::None;
    std::string R::*text = nullptr;
    RecordText R::*recordText = nullptr;
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
FieldRule<R> textField(int field, RecordText R::*m)
{
    FieldRule<R> r;
    r.field = field;
    r.conversion = FieldConversion::RecordTextCopy;
    r.recordText = m;
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
        m_count = m_byField.size();
    }

    // True when the field is one the map stores. The count is kept apart: the
    // vector's size is a division by the rule's size on every field of every line.
    bool has(int field) const
    {
        return field >= 0 && static_cast<size_t>(field) < m_count &&
               m_byField[static_cast<size_t>(field)].conversion != FieldConversion::None;
    }

    // Fields the map does not name are ignored.
    void store(R& record, int field, const char* text, size_t length) const
    {
        if (!has(field))
            return;
        const FieldRule<R>& r = m_byField[static_cast<size_t>(field)];
        // An empty field converts to the member's default whatever its kind (no
        // number, no time stamp, no "Y"), so it is stored without parsing.
        switch (r.conversion) {
        case FieldConversion::Text:
            if (length == 0)
                (record.*r.text).clear();
            else
                (record.*r.text).assign(text, length);
            break;
        case FieldConversion::RecordTextCopy: (record.*r.recordText).assign(text, length); break;
        case FieldConversion::Number: record.*r.real = length == 0 ? 0.0 : parseWireDouble(text, length); break;
        case FieldConversion::Integer: record.*r.integer = length == 0 ? 0 : parseWireInt(text, length); break;
        case FieldConversion::Time:
            record.*r.real = length == 0 ? 0.0 : TimeUtils::dasTimeStampSerial(text, length);
            break;
        case FieldConversion::Flag: record.*r.flag = length != 0 && text[0] == 'Y'; break;
        case FieldConversion::None: break;
        }
    }

private:
    std::vector<FieldRule<R>> m_byField;
    size_t m_count = 0;
};

} // namespace zel
