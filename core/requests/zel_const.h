#pragma once
// Constant texts shared across the core: session properties, request names, login
// texts and system-property names.

namespace zel {

struct ZelConst {
    // Session property naming the wire protocol, and the value that selects RTMP
    // (compared without regard to case); any other value means DAS.
    static constexpr const char* TRANSPORT_PROVIDER_PROPERTY = "TransportProvider";
    static constexpr const char* RTMP_TRANSPORT_NAME = "RTMP";

    // RTMP request names and parameters.
    static constexpr const char* RTMP_INIT_REQUEST_NAME = "SessionInitMsg";
    static constexpr const char* RTMP_GET_PRICE_HISTORY_NAME = "GetPriceHistory";
    static constexpr const char* RTMP_SESSION_ID_PARAM = "SessionId";
    static constexpr const char* RTMP_SYS_CONFIG_MSG = "SysConfigMsg";

    // Login texts.
    static constexpr const char* TRADER_LOGIN_EXTRA_COMMAND = "EXTRA=3,139,9,5,138";
    static constexpr const char* PIN_EXTRA_COMMAND = "PIN=";
    static constexpr const char* PRICE_SERVER = "PriceServer";
    static constexpr const char* APPLICATION_NAME = "Zel2";

    // System properties.
    static constexpr const char* SYS_PROPERTY_NON_CHANGED_VALUE = "NON_CHANGED_VALUE";
    static constexpr const char* PRICE_TERMINAL = "EXT_PRICE_TERMINAL";
};

} // namespace zel
