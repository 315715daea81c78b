#pragma once
// Requests: what an application sends with IZelSession::sendRequest, and what each
// response names by its request identifier. Only the request factories make them.
//
// Ownership: factories return a new request holding one reference that belongs to
// the caller; getChildRequest adds a reference that the caller releases. A request
// never changes once the factory has returned it.
// [Threading] Counting is atomic and requests are immutable, so any thread may read
// and release one.

#include "vorntool/add_ref.h"
#include "zel/zel_export.h"

class ZEL_API IZelRequest : public IAddRef {
public:
    // The identifier the answer will carry ("" for requests that get no answer of
    // their own); the text lives as long as the request.
    virtual const char* getRequestID() = 0;
    // Children of a batch (OCO, OTO, contingency-group changes), each with an
    // identifier of its own; 0 for a single request.
    virtual int getChildrenCount() = 0;
    // Adds a reference: the caller releases it. Null for an index outside
    // 0..getChildrenCount()-1.
    virtual IZelRequest* getChildRequest(int index) = 0;

protected:
    IZelRequest() = default;
    ~IZelRequest() override = default;
};
