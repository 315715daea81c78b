#include "core/responses/system_properties.h"

namespace zel {

const char* SystemProperties::findProperty(const char* name)
{
    LockGuard<Mutex> lock(m_mutex);
    return m_list ? m_list->find(name) : nullptr;
}

const char* SystemProperties::getProperty(int index, const char*& name)
{
    LockGuard<Mutex> lock(m_mutex);
    if (!m_list) {
        name = nullptr;
        return nullptr;
    }
    return m_list->get(index, name);
}

int SystemProperties::size()
{
    LockGuard<Mutex> lock(m_mutex);
    return m_list ? m_list->size() : 0;
}

void SystemProperties::publish(std::unique_ptr<PropertiesResponseReader> list)
{
    if (m_list)
        m_retired.push_back(std::move(m_list));
    m_list = std::move(list);
}

void SystemProperties::init(std::unique_ptr<PropertiesResponseReader> list)
{
    LockGuard<Mutex> lock(m_mutex);
    publish(std::move(list));
}

void SystemProperties::add(const char* name, const char* value)
{
    addMissing({{name ? name : "", value ? value : ""}});
}

void SystemProperties::addMissing(const std::vector<std::pair<std::string, std::string>>& entries)
{
    LockGuard<Mutex> lock(m_mutex);
    auto next = m_list ? std::make_unique<PropertiesResponseReader>(*m_list) : std::make_unique<PropertiesResponseReader>();
    bool changed = false;
    for (const auto& e : entries) {
        if (entries.size() > 1 && next->find(e.first.c_str()))
            continue;
        next->add(e.first, e.second);
        changed = true;
    }
    if (changed)
        publish(std::move(next));
}

} // namespace zel
