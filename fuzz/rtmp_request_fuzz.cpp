// The dealer's reader of the XML requests RTMP clients send: any bytes are read or
// refused with a reason, never a crash, and the request ID of an unreadable text is
// found without reading past it.

#include <cstddef>
#include <cstdint>
#include <string>

#include "rtmp_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    pellora::dealer::XmlRequest r;
    const pellora::dealer::Status s = pellora::dealer::readXmlRequest(text, r);
    if (s.isOk() && r.name.empty())
        __builtin_trap();  // a read request always has a name
    if (!s.isOk() && s.text().empty())
        __builtin_trap();  // a refusal always says why
    (void)pellora::dealer::xmlRequestIdOf(text);
    return 0;
}
