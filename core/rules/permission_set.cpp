#include "core/rules/permission_set.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zel {

bool PermissionSet::readPermissions(const char* text)
{
    if (!text || !*text)
        return true;
    const char* p = text;
    while (*p) {
        const char* comma = std::strchr(p, ',');
        if (!comma)
            return false;  // a code without its value
        const std::string code(p, comma);
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(code.c_str(), &end, 10);
        if (code.empty() || *end || value == 0 || errno == ERANGE || value > INT_MAX || value < INT_MIN)
            return false;
        const char* flag = comma + 1;
        const char* next = std::strchr(flag, ',');
        const size_t flagLength = next ? static_cast<size_t>(next - flag) : std::strlen(flag);
        if (flagLength != 1 || (*flag != 'Y' && *flag != 'N'))
            return false;
        m_status[static_cast<int>(value)] = *flag == 'Y' ? Enabled : Disabled;
        if (!next)
            return true;
        p = next + 1;
        if (!*p)
            return true;  // a closing comma
    }
    return true;
}

IPermissionSet::FXPermissionStatus PermissionSet::getPermissionStatus(int code) const
{
    if (m_tradingStatus == ZelMarketStatus::Closed && (code == 88 || code == 107))
        return Disabled;
    auto it = m_status.find(code);
    return it == m_status.end() ? NotSet : it->second;
}

} // namespace zel
