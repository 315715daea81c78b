#pragma once
// The public descriptors of the trading sessions a server offers, made from the
// transport's descriptions at login.
//
// Ownership: each starts with one reference for the creator; a collection holds one
// reference to each descriptor it lists. [Threading] Immutable after creation.

#include <string>
#include <vector>

#include "core/base/ref_ptr.h"
#include "merrow/trading_session_desc.h"
#include "vorntool/add_ref.h"
#include "zel/session_descriptor.h"

namespace zel {

class CZelSessionDescriptor : public TThreadSafeAddRefImpl<IZelSessionDescriptor> {
public:
    // Null texts are stored as "".
    CZelSessionDescriptor(const char* id, const char* name, const char* description, bool pinRequired);

    const char* getID() override { return m_id.c_str(); }
    const char* getName() override { return m_name.c_str(); }
    const char* getDescription() override { return m_description.c_str(); }
    bool requiresPin() override { return m_pinRequired; }

protected:
    ~CZelSessionDescriptor() override = default;

private:
    const std::string m_id;
    const std::string m_name;
    const std::string m_description;
    const bool m_pinRequired;
};

class CZelSessionDescriptorCollection : public TThreadSafeAddRefImpl<IZelSessionDescriptorCollection> {
public:
    CZelSessionDescriptorCollection() = default;

    int size() override { return static_cast<int>(m_descriptors.size()); }
    IZelSessionDescriptor* get(int index) override;
    // Adds a reference and appends; null is ignored. Only while building.
    void add(IZelSessionDescriptor* descriptor);

protected:
    ~CZelSessionDescriptorCollection() override = default;

private:
    std::vector<RefPtr<IZelSessionDescriptor>> m_descriptors;
};

class CZelSessionDescriptorCollectionFactory {
public:
    CZelSessionDescriptorCollectionFactory() = delete;
    // From a null-terminated array (null: empty); each descriptor's ID is the
    // description's sub-ID. A new collection with one reference.
    static CZelSessionDescriptorCollection* create(const merrow::TradingSessionDesc* const* descriptions);
};

} // namespace zel
