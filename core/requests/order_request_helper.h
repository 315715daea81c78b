#pragma once
// The validation table of order building: for each order type ("OM" ... "L") and
// command ("EditOrder" ...), the parameters it requires, those it may carry, those
// read from each child map, and the one parameter that may stand in for a required
// one; plus the name of each parameter in error texts.
//
// Ownership: a process-wide singleton, built on first use and never destroyed.
// [Threading] Filled completely in its constructor (thread-safe static
// initialization), read-only afterwards: reads need no lock.

#include <string>
#include <unordered_map>
#include <vector>

#include "zel/value_map.h"

namespace zel {

class OrderRequestHelper {
public:
    using ParamList = std::vector<ZelRequestParamsEnum>;

    static const OrderRequestHelper& instance();

    // Keys are the canonical spellings of OrderTypes and CommandNames (exact match).
    // An unknown key yields an empty list; the lists live for the process.
    const ParamList& getRequired(const std::string& key) const;
    const ParamList& getOptional(const std::string& key) const;
    const ParamList& getChildParams(const std::string& key) const;
    // True, with the stand-in in *out, when the key lets another parameter stand in
    // for the required one.
    bool getAlternative(const std::string& key, ZelRequestParamsEnum required, ZelRequestParamsEnum* out) const;
    // The parameter's name in error texts; "" for an unknown one. Static texts.
    const char* getUserName(ZelRequestParamsEnum param) const;

    OrderRequestHelper(const OrderRequestHelper&) = delete;
    OrderRequestHelper& operator=(const OrderRequestHelper&) = delete;

private:
    OrderRequestHelper();

    struct ParamHash {
        size_t operator()(ZelRequestParamsEnum p) const { return static_cast<size_t>(p); }
    };
    using AlternativeMap = std::unordered_map<ZelRequestParamsEnum, ZelRequestParamsEnum, ParamHash>;

    std::unordered_map<std::string, ParamList> m_required;
    std::unordered_map<std::string, ParamList> m_optional;
    std::unordered_map<std::string, ParamList> m_children;
    std::unordered_map<std::string, AlternativeMap> m_alternatives;
    std::unordered_map<ZelRequestParamsEnum, const char*, ParamHash> m_userNames;
};

} // namespace zel
