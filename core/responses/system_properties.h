#pragma once
// The public system-properties reader over a property list it owns.
//
// Ownership: one reference for the creator; init replaces the whole list.
// [Threading] The trade desk fills it once (init) before handing it out; readers
// only read. It is not locked: nothing changes it while it is being read.

#include <memory>

#include "core/responses/properties_response_processor.h"
#include "vorntool/add_ref.h"
#include "zel/system_properties_reader.h"

namespace zel {

class SystemProperties : public TThreadSafeAddRefImpl<IZelSystemPropertiesReader> {
public:
    SystemProperties() = default;
    explicit SystemProperties(std::unique_ptr<PropertiesResponseReader> list) : m_list(std::move(list)) {}

    const char* findProperty(const char* name) override { return m_list ? m_list->find(name) : nullptr; }
    const char* getProperty(int index, const char*& name) override;
    int size() override { return m_list ? m_list->size() : 0; }

    void init(std::unique_ptr<PropertiesResponseReader> list) { m_list = std::move(list); }
    void add(const char* name, const char* value);

protected:
    ~SystemProperties() override = default;

private:
    std::unique_ptr<PropertiesResponseReader> m_list;
};

} // namespace zel
