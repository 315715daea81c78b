#include "core/session/session_descriptor.h"

namespace zel {

CZelSessionDescriptor::CZelSessionDescriptor(const char* id, const char* name, const char* description,
                                             bool pinRequired)
    : m_id(id ? id : ""), m_name(name ? name : ""), m_description(description ? description : ""),
      m_pinRequired(pinRequired)
{
}

IZelSessionDescriptor* CZelSessionDescriptorCollection::get(int index)
{
    if (index < 0 || index >= size())
        return nullptr;
    return m_descriptors[static_cast<size_t>(index)].share();
}

void CZelSessionDescriptorCollection::add(IZelSessionDescriptor* descriptor)
{
    if (descriptor)
        m_descriptors.emplace_back(descriptor);
}

CZelSessionDescriptorCollection* CZelSessionDescriptorCollectionFactory::create(
    const merrow::TradingSessionDesc* const* descriptions)
{
    auto* collection = new CZelSessionDescriptorCollection();
    for (size_t i = 0; descriptions && descriptions[i]; ++i) {
        const merrow::TradingSessionDesc* d = descriptions[i];
        RefPtr<CZelSessionDescriptor> descriptor =
            adoptRef(new CZelSessionDescriptor(d->getSubID(), d->getName(), d->getDesc(), d->pinRequired()));
        collection->add(descriptor.get());
    }
    return collection;
}

} // namespace zel
