#pragma once
// Description of one trading session (trading system) that a connection offers:
// the station descriptor lists them, and a login selects one of them.
// A plain value: copy it freely; its texts live as long as the object.

#include <string>

namespace merrow {

class TradingSessionDesc {
public:
    TradingSessionDesc() = default;
    // Null texts are taken as "".
    TradingSessionDesc(const char* id, const char* subId, const char* name, const char* desc, bool pinRequired)
        : m_id(id ? id : ""), m_subId(subId ? subId : ""), m_name(name ? name : ""), m_desc(desc ? desc : ""),
          m_pinRequired(pinRequired)
    {
    }

    const char* getID() const { return m_id.c_str(); }
    const char* getSubID() const { return m_subId.c_str(); }
    const char* getName() const { return m_name.c_str(); }
    const char* getDesc() const { return m_desc.c_str(); }
    // True when logging in to this session needs a PIN.
    bool pinRequired() const { return m_pinRequired; }

private:
    std::string m_id;
    std::string m_subId;
    std::string m_name;
    std::string m_desc;
    bool m_pinRequired = false;
};

} // namespace merrow
