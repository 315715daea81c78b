#pragma once
// The trading sessions a server offers at login. The application reads them while
// the status is TradingSessionRequested and answers with
// IZelSession::setTradingSession(getID(), pin).
//
// Ownership: get adds a reference that the caller releases; texts live as long as
// the descriptor. A collection and its descriptors never change.
// [Threading] Immutable; any thread.

#include "vorntool/add_ref.h"
#include "zel/zel_export.h"

class ZEL_API IZelSessionDescriptor : public IAddRef {
public:
    // The identifier to pass to setTradingSession.
    virtual const char* getID() = 0;
    virtual const char* getName() = 0;
    virtual const char* getDescription() = 0;
    virtual bool requiresPin() = 0;

protected:
    IZelSessionDescriptor() = default;
    ~IZelSessionDescriptor() override = default;
};

class ZEL_API IZelSessionDescriptorCollection : public IAddRef {
public:
    virtual int size() = 0;
    // Adds a reference. The index must lie in 0..size()-1; outside it, null.
    virtual IZelSessionDescriptor* get(int index) = 0;

protected:
    IZelSessionDescriptorCollection() = default;
    ~IZelSessionDescriptorCollection() override = default;
};
