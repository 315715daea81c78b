#pragma once
// The value map behind IZelValueMap, and its typed values.
//
// Ownership: create with `new ValueMap()` (one reference for the creator). The map
// owns its values and one reference to each child.
// [Threading] Not locked: one thread fills a map, then hands it on.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/base/ref_ptr.h"
#include "vorntool/add_ref.h"
#include "zel/value_map.h"

namespace zel {

// A tagged value: only the field of its type is stored; the getters convert from
// the other types.
class ValueMapValue {
public:
    enum Type : int32_t { Boolean = 0, String = 1, Integer = 2, Double = 3 };

    static ValueMapValue ofBoolean(bool v);
    // Null is stored as "".
    static ValueMapValue ofString(const char* v);
    static ValueMapValue ofInteger(int32_t v);
    static ValueMapValue ofDouble(double v);

    int32_t getType() const { return m_type; }
    // The wire text: "true"/"false", the text, "%d", or "%f" (six decimals) in the C
    // locale. Lives as long as the value.
    const char* getString() const { return m_text.c_str(); }
    // A text reads as its leading base-10 number (0 when none), a double truncated
    // toward zero and saturated to 32 bits (NaN gives 0), a boolean as 0 or 1.
    int32_t getInteger() const;
    // A text reads as its leading decimal number (0.0 when none), an integer or a
    // boolean as its number.
    double getDouble() const;
    // A text is true when it reads "true" in any case or a number other than 0; a
    // number when it is not 0.
    bool getBoolean() const;

private:
    ValueMapValue() = default;

    int32_t m_type = String;
    double m_double = 0.0;
    std::string m_text;  // the text, or the wire text of the other types
    int32_t m_integer = 0;
    bool m_boolean = false;
};

class ValueMap : public TThreadSafeAddRefImpl<IZelValueMap> {
public:
    ValueMap();

    void setString(ZelRequestParamsEnum param, const char* value) override;
    void setDouble(ZelRequestParamsEnum param, double value) override;
    void setInt(ZelRequestParamsEnum param, int value) override;
    void setBoolean(ZelRequestParamsEnum param, bool value) override;
    // Children of another IZelValueMap implementation cannot be read, so the copy
    // shares them (adds a reference) instead of copying them.
    IZelValueMap* clone() override;
    void clear() override;
    int getChildrenCount() override { return static_cast<int>(m_children.size()); }
    IZelValueMap* getChild(int index) override;
    void appendChild(IZelValueMap* child) override;

    // The stored value, or null; lives until the parameter is set or removed.
    const ValueMapValue* getParam(ZelRequestParamsEnum param) const;
    bool hasParam(ZelRequestParamsEnum param) const { return getParam(param) != nullptr; }
    void removeIfExist(ZelRequestParamsEnum param);
    int getParamCount() const { return static_cast<int>(m_params.size()); }
    // The child without a new reference; lives as long as it stays a child. Null
    // outside the list.
    IZelValueMap* peekChild(int index) const;

protected:
    ~ValueMap() override;

private:
    void put(ZelRequestParamsEnum param, ValueMapValue value);
    // True when this map is the given one or among its descendants.
    bool isWithin(IZelValueMap* root);

    struct ParamHash {
        size_t operator()(ZelRequestParamsEnum p) const { return std::hash<int32_t>()(static_cast<int32_t>(p)); }
    };
    std::unordered_map<ZelRequestParamsEnum, std::unique_ptr<ValueMapValue>, ParamHash> m_params;
    std::vector<RefPtr<IZelValueMap>> m_children;
};

} // namespace zel
