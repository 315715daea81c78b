#pragma once
// The request classes behind IZelRequest: DAS commands (with parameters and child
// requests for batches), RTMP commands, the RTMP session-init request, and a
// wrapper of a ready message object (price history).
//
// Ownership: each is created with `new` holding one reference for the creator and
// deleted by its last release. A CommandRequest owns one reference to each child;
// a FixRequest one reference to its message object.
// [Threading] Built by one thread (the factory), immutable afterwards; counting is
// atomic.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/base/ref_ptr.h"
#include "core/messages/fix_object.h"
#include "vorntool/add_ref.h"
#include "zel/request.h"

namespace zel {

class BaseRequest : public TThreadSafeAddRefImpl<IZelRequest> {
public:
    // The identifier is copied; null is stored as "".
    explicit BaseRequest(const char* requestID);

    const char* getRequestID() override { return m_requestID.c_str(); }
    int getChildrenCount() override { return 0; }
    IZelRequest* getChildRequest(int index) override { return nullptr; }

protected:
    ~BaseRequest() override = default;

private:
    std::string m_requestID;
};

class CommandRequest : public BaseRequest {
public:
    CommandRequest(const char* requestID, int32_t command);

    int32_t getCommandID() const { return m_command; }

    // Replaces the value of the parameter with exactly this name, in place, or
    // appends the pair: first insertion fixes the order on the wire. A null name is
    // ignored; a null value is stored as "".
    void addParam(const char* name, const char* value);
    // True when a parameter of that name exists, compared without regard to case.
    bool isParamExists(const char* name) const;
    int getParamCount() const { return static_cast<int>(m_params.size()); }
    // Null outside 0..getParamCount()-1; texts live as long as the request.
    const char* getParamName(int index) const;
    const char* getParamValue(int index) const;

    // Takes over the caller's reference to the child, also when it refuses it (null,
    // this request, or a request that holds this one): then that reference is
    // released and false returned.
    bool addChild(CommandRequest* child);
    int getChildrenCount() override { return static_cast<int>(m_children.size()); }
    IZelRequest* getChildRequest(int index) override;
    // The child without a new reference; lives as long as this request. Null outside
    // the list.
    CommandRequest* getChild(int index) const;

protected:
    ~CommandRequest() override = default;

private:
    // True when this request is the given one or one of its descendants.
    bool isWithin(const CommandRequest* root) const;

    int32_t m_command;
    std::vector<std::pair<std::string, std::string>> m_params;
    std::vector<RefPtr<CommandRequest>> m_children;
};

class RTMPCommandRequest : public CommandRequest {
public:
    // The name is copied; null is stored as "".
    RTMPCommandRequest(const char* requestID, int32_t command, const char* name);

    // The RTMP element name ("GetSystemRules", "SubscrList"); lives as long as the request.
    const char* getName() const { return m_name.c_str(); }

protected:
    ~RTMPCommandRequest() override = default;

private:
    std::string m_name;
};

// Opens an RTMP session; it gets no answer of its own, so its identifier is empty.
class RTMPInitRequest : public BaseRequest {
public:
    RTMPInitRequest();

    // Always ZelConst::RTMP_INIT_REQUEST_NAME.
    const char* getName() const;

protected:
    ~RTMPInitRequest() override = default;
};

// A request sent as a ready message object (a market-data request).
class FixRequest : public BaseRequest {
public:
    // Adds a reference to the object (null is kept as null).
    FixRequest(const char* requestID, AFixObject* object);

    // Adds a reference: the caller releases it. Null when built without an object.
    AFixObject* getFixObject() const { return m_object.share(); }

protected:
    ~FixRequest() override = default;

private:
    RefPtr<AFixObject> m_object;
};

} // namespace zel
