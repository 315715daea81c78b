#include "core/responses/properties_response_processor.h"

#include <strings.h>

#include <cstring>

namespace zel {

const char* PropertiesResponseReader::find(const char* name) const
{
    if (!name)
        return nullptr;
    for (const auto& e : m_entries) {
        if (e.first == name)
            return e.second.c_str();
    }
    return nullptr;
}

const char* PropertiesResponseReader::get(int index, const char*& name) const
{
    if (index < 0 || index >= size()) {
        name = nullptr;
        return nullptr;
    }
    const auto& e = m_entries[static_cast<size_t>(index)];
    name = e.first.c_str();
    return e.second.c_str();
}

std::unique_ptr<PropertiesResponseReader> PropertiesResponseProcessor::parse(const char* text) const
{
    auto list = std::make_unique<PropertiesResponseReader>();
    if (!text)
        return list;
    const char* p = std::strchr(text, m_line);
    if (!p)
        return list;  // nothing but the status line
    ++p;
    const char* end = p + std::strlen(p);
    while (p < end) {
        // A line separator where a name would start begins the next line.
        if (*p == m_line) {
            ++p;
            continue;
        }
        const char* nameEnd = static_cast<const char*>(std::memchr(p, m_field, static_cast<size_t>(end - p)));
        if (!nameEnd)
            break;  // a last name without its separator ends the list
        const char* value = nameEnd + 1;
        const char* valueEnd = static_cast<const char*>(std::memchr(value, m_field, static_cast<size_t>(end - value)));
        if (!valueEnd)
            valueEnd = end;
        list->add(std::string(p, nameEnd), std::string(value, valueEnd));
        p = valueEnd < end ? valueEnd + 1 : end;
    }
    return list;
}

void CommandSAXParser::startElement(const char* name, const char** attrs)
{
    if (!m_reader || std::strcmp(name, "Prop") != 0)
        return;
    const char* propName = nullptr;
    const char* propValue = nullptr;
    for (size_t i = 0; attrs && attrs[i] && attrs[i + 1]; i += 2) {
        if (!propName && ::strcasecmp(attrs[i], "name") == 0)
            propName = attrs[i + 1];
        else if (!propValue && ::strcasecmp(attrs[i], "value") == 0)
            propValue = attrs[i + 1];
    }
    if (propName && propValue)
        m_reader->add(propName, propValue);
}

} // namespace zel
