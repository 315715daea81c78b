#include "core/requests/value_map.h"

#include <cmath>
#include <limits>
#include <unordered_set>
#include <utility>

#include "core/messages/wire_values.h"

namespace zel {

ValueMapValue ValueMapValue::ofBoolean(bool v)
{
    ValueMapValue value;
    value.m_type = Boolean;
    value.m_boolean = v;
    value.m_text = v ? "true" : "false";
    return value;
}

ValueMapValue ValueMapValue::ofString(const char* v)
{
    ValueMapValue value;
    value.m_type = String;
    value.m_text = v != nullptr ? v : "";
    return value;
}

ValueMapValue ValueMapValue::ofInteger(int32_t v)
{
    ValueMapValue value;
    value.m_type = Integer;
    value.m_integer = v;
    value.m_text = std::to_string(v);
    return value;
}

ValueMapValue ValueMapValue::ofDouble(double v)
{
    ValueMapValue value;
    value.m_type = Double;
    value.m_double = v;
    value.m_text = formatWireDouble(v);
    return value;
}

int32_t ValueMapValue::getInteger() const
{
    switch (m_type) {
    case Boolean:
        return m_boolean ? 1 : 0;
    case Integer:
        return m_integer;
    case Double:
        if (std::isnan(m_double))
            return 0;
        if (m_double <= double(std::numeric_limits<int32_t>::min()))
            return std::numeric_limits<int32_t>::min();
        if (m_double >= double(std::numeric_limits<int32_t>::max()))
            return std::numeric_limits<int32_t>::max();
        return static_cast<int32_t>(m_double);
    default:
        return parseWireInt(m_text.c_str());
    }
}

double ValueMapValue::getDouble() const
{
    switch (m_type) {
    case Boolean:
        return m_boolean ? 1.0 : 0.0;
    case Integer:
        return m_integer;
    case Double:
        return m_double;
    default:
        return parseWireDouble(m_text.c_str());
    }
}

bool ValueMapValue::getBoolean() const
{
    switch (m_type) {
    case Boolean:
        return m_boolean;
    case Integer:
        return m_integer != 0;
    case Double:
        return m_double != 0.0 && !std::isnan(m_double);
    default:
        return equalsIgnoreCase(m_text.c_str(), "true") || parseWireDouble(m_text.c_str()) != 0.0;
    }
}

ValueMap::ValueMap() : m_params(11) {}

ValueMap::~ValueMap() = default;

void ValueMap::put(ZelRequestParamsEnum param, ValueMapValue value)
{
    std::unique_ptr<ValueMapValue>& slot = m_params[param];
    // The old value goes with the replacement.
    slot.reset(new ValueMapValue(std::move(value)));
}

void ValueMap::setString(ZelRequestParamsEnum param, const char* value)
{
    if (value == nullptr)
        removeIfExist(param);
    else
        put(param, ValueMapValue::ofString(value));
}

void ValueMap::setDouble(ZelRequestParamsEnum param, double value)
{
    put(param, ValueMapValue::ofDouble(value));
}

void ValueMap::setInt(ZelRequestParamsEnum param, int value)
{
    put(param, ValueMapValue::ofInteger(value));
}

void ValueMap::setBoolean(ZelRequestParamsEnum param, bool value)
{
    put(param, ValueMapValue::ofBoolean(value));
}

IZelValueMap* ValueMap::clone()
{
    RefPtr<ValueMap> copy = adoptRef(new ValueMap());
    for (const auto& p : m_params)
        copy->m_params.emplace(p.first, std::make_unique<ValueMapValue>(*p.second));
    for (const RefPtr<IZelValueMap>& child : m_children) {
        if (auto* own = dynamic_cast<ValueMap*>(child.get()))
            copy->m_children.push_back(adoptRef(own->clone()));
        else
            copy->m_children.push_back(child);
    }
    return copy.detach();
}

void ValueMap::clear()
{
    std::vector<RefPtr<IZelValueMap>> children;
    children.swap(m_children);  // a child's destruction sees this map already cleared
}

IZelValueMap* ValueMap::getChild(int index)
{
    if (index < 0 || index >= static_cast<int>(m_children.size()))
        return nullptr;
    return m_children[static_cast<size_t>(index)].share();
}

IZelValueMap* ValueMap::peekChild(int index) const
{
    if (index < 0 || index >= static_cast<int>(m_children.size()))
        return nullptr;
    return m_children[static_cast<size_t>(index)].get();
}

bool ValueMap::isWithin(IZelValueMap* root)
{
    std::unordered_set<IZelValueMap*> seen;
    std::vector<RefPtr<IZelValueMap>> pending;
    pending.emplace_back(root);
    while (!pending.empty()) {
        RefPtr<IZelValueMap> map = std::move(pending.back());
        pending.pop_back();
        if (map.get() == this)
            return true;
        if (!seen.insert(map.get()).second)
            continue;
        const int n = map->getChildrenCount();
        for (int i = 0; i < n; ++i)
            if (IZelValueMap* child = map->getChild(i))
                pending.push_back(adoptRef(child));
    }
    return false;
}

void ValueMap::appendChild(IZelValueMap* child)
{
    // A cycle would make the maps immortal and the builders recurse for ever.
    if (child == nullptr || isWithin(child))
        return;
    m_children.emplace_back(child);
}

const ValueMapValue* ValueMap::getParam(ZelRequestParamsEnum param) const
{
    const auto it = m_params.find(param);
    return it != m_params.end() ? it->second.get() : nullptr;
}

void ValueMap::removeIfExist(ZelRequestParamsEnum param)
{
    m_params.erase(param);
}

} // namespace zel
