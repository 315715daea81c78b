#include "core/requests/request.h"

#include <cstring>

#include "core/messages/wire_values.h"
#include "core/requests/zel_const.h"

namespace zel {

BaseRequest::BaseRequest(const char* requestID) : m_requestID(requestID != nullptr ? requestID : "") {}

CommandRequest::CommandRequest(const char* requestID, int32_t command) : BaseRequest(requestID), m_command(command)
{
}

void CommandRequest::addParam(const char* name, const char* value)
{
    if (name == nullptr)
        return;
    const char* v = value != nullptr ? value : "";
    for (auto& p : m_params) {
        if (p.first == name) {
            p.second = v;
            return;
        }
    }
    m_params.emplace_back(name, v);
}

bool CommandRequest::isParamExists(const char* name) const
{
    for (const auto& p : m_params)
        if (equalsIgnoreCase(p.first.c_str(), name))
            return true;
    return false;
}

const char* CommandRequest::getParamName(int index) const
{
    if (index < 0 || index >= getParamCount())
        return nullptr;
    return m_params[static_cast<size_t>(index)].first.c_str();
}

const char* CommandRequest::getParamValue(int index) const
{
    if (index < 0 || index >= getParamCount())
        return nullptr;
    return m_params[static_cast<size_t>(index)].second.c_str();
}

bool CommandRequest::isWithin(const CommandRequest* root) const
{
    if (root == this)
        return true;
    for (const RefPtr<CommandRequest>& child : root->m_children)
        if (isWithin(child.get()))
            return true;
    return false;
}

bool CommandRequest::addChild(CommandRequest* child)
{
    RefPtr<CommandRequest> owned = adoptRef(child);
    // A cycle would make the requests immortal and the registry recurse for ever.
    if (!owned || isWithin(owned.get()))
        return false;
    m_children.push_back(std::move(owned));
    return true;
}

IZelRequest* CommandRequest::getChildRequest(int index)
{
    if (index < 0 || index >= getChildrenCount())
        return nullptr;
    return m_children[static_cast<size_t>(index)].share();
}

CommandRequest* CommandRequest::getChild(int index) const
{
    if (index < 0 || index >= static_cast<int>(m_children.size()))
        return nullptr;
    return m_children[static_cast<size_t>(index)].get();
}

RTMPCommandRequest::RTMPCommandRequest(const char* requestID, int32_t command, const char* name)
    : CommandRequest(requestID, command), m_name(name != nullptr ? name : "")
{
}

RTMPInitRequest::RTMPInitRequest() : BaseRequest("") {}

const char* RTMPInitRequest::getName() const
{
    return ZelConst::RTMP_INIT_REQUEST_NAME;
}

FixRequest::FixRequest(const char* requestID, AFixObject* object) : BaseRequest(requestID), m_object(object) {}

} // namespace zel
