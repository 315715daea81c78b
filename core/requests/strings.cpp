#include "core/requests/strings.h"

#include <initializer_list>
#include <string>

namespace zel {

namespace {

// Replaces each "%s" of the pattern, in order, with the next argument.
const char* format(std::string& buffer, const char* pattern, std::initializer_list<const char*> args)
{
    buffer.clear();
    auto next = args.begin();
    for (const char* p = pattern; *p; ++p) {
        if (p[0] == '%' && p[1] == 's' && next != args.end()) {
            if (*next)
                buffer += *next;
            ++next;
            ++p;
        } else {
            buffer += *p;
        }
    }
    return buffer.c_str();
}

} // namespace

const char* Strings::getMissedRequiredParam(const char* param)
{
    thread_local std::string buffer;
    return format(buffer, "The required parameter '%s' must be specified", {param});
}

const char* Strings::getUnknownCommand(const char* command)
{
    thread_local std::string buffer;
    return format(buffer, "Command '%s' does not exist.", {command});
}

const char* Strings::getCommandNotInBatch(const char* command)
{
    thread_local std::string buffer;
    return format(buffer, "Command '%s' cannot be part of this batch: a batch holds requests of its own command only.",
                  {command});
}

const char* Strings::getUnknownOrderType(const char* orderType)
{
    thread_local std::string buffer;
    return format(buffer, "Order type '%s' does not exist.", {orderType});
}

const char* Strings::getTrailStopError(const char* rate, const char* pegType, const char* pegOffset)
{
    thread_local std::string buffer;
    return format(buffer, "Either '%s' or both '%s' and '%s' must be specified for using TrailStepStop parameters.",
                  {rate, pegType, pegOffset});
}

const char* Strings::getLegFieldError(const char* rate, const char* pegType, const char* pegOffset)
{
    thread_local std::string buffer;
    return format(buffer, "Either '%s' or both '%s' and '%s' must be specified.", {rate, pegType, pegOffset});
}

const char* Strings::getPegParamError(const char* param)
{
    thread_local std::string buffer;
    return format(buffer, "'%s' must be specified.", {param});
}

const char* Strings::getPegTypeError(const char* given)
{
    thread_local std::string buffer;
    return format(buffer, "The '%s' must be either O or M.", {given});
}

const char* Strings::getValueMapNotValid()
{
    return "The value map is not valid.";
}

const char* Strings::getSessionClosed()
{
    return "The session is closed.";
}

const char* Strings::getMarketDataRequestRejected()
{
    return "The market data request was rejected.";
}

const char* Strings::getErrorDesc(const char* text)
{
    thread_local std::string buffer;
    return format(buffer, "Desc=%s", {text});
}

} // namespace zel
