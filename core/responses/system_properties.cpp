#include "core/responses/system_properties.h"

namespace zel {

const char* SystemProperties::getProperty(int index, const char*& name)
{
    if (!m_list) {
        name = nullptr;
        return nullptr;
    }
    return m_list->get(index, name);
}

void SystemProperties::add(const char* name, const char* value)
{
    if (!m_list)
        m_list = std::make_unique<PropertiesResponseReader>();
    m_list->add(name ? name : "", value ? value : "");
}

} // namespace zel
