#pragma once
// The public system-properties reader over a property list it owns.
//
// Ownership: one reference for the creator; init replaces the whole list.
// [Threading] Any thread. A reconnect reloads the list while the application may
// be reading it, so a list once published is never changed or freed before the
// reader goes: init and add publish a new list under the mutex and keep the old
// one, and every text handed out stays valid as long as the reader.

#include <memory>
#include <utility>
#include <vector>

#include "core/base/mutex.h"
#include "core/responses/properties_response_processor.h"
#include "vorntool/add_ref.h"
#include "zel/system_properties_reader.h"

namespace zel {

class SystemProperties : public TThreadSafeAddRefImpl<IZelSystemPropertiesReader> {
public:
    SystemProperties() = default;
    explicit SystemProperties(std::unique_ptr<PropertiesResponseReader> list) : m_list(std::move(list)) {}

    const char* findProperty(const char* name) override;
    const char* getProperty(int index, const char*& name) override;
    int size() override;

    void init(std::unique_ptr<PropertiesResponseReader> list);
    void add(const char* name, const char* value);
    // Adds each pair whose name is absent, as one new list.
    void addMissing(const std::vector<std::pair<std::string, std::string>>& entries);

protected:
    ~SystemProperties() override = default;

private:
    void publish(std::unique_ptr<PropertiesResponseReader> list) ZEL_REQUIRES(m_mutex);

    Mutex m_mutex;
    std::unique_ptr<PropertiesResponseReader> m_list ZEL_GUARDED_BY(m_mutex);
    std::vector<std::unique_ptr<PropertiesResponseReader>> m_retired ZEL_GUARDED_BY(m_mutex);
};

} // namespace zel
