#pragma once
// Wire constants of the transport: message types, field tags, field values,
// channels and status codes.
//
// Standard FIX 4.4 numbers are used wherever FIX has the concept; the service's
// own tags are numbered from 9000 and its own message types from "U9000" (FIX
// keeps message types starting with "U" for user-defined messages). Values never
// change once released: both ends of a connection rely on them.

#include <cstdint>

namespace merrow {

class IFixDefs {
public:
    IFixDefs() = delete;

    // Message types (texts, compared exactly).
    // FIX 4.4 market data and trading-session messages.
    static constexpr const char* MSGTYPE_MARKETDATAREQUEST = "V";
    static constexpr const char* MSGTYPE_MARKETDATASNAPSHOTFULLREFRESH = "W";
    static constexpr const char* MSGTYPE_MARKETDATAREQUESTREJECT = "Y";
    static constexpr const char* MSGTYPE_TRADINGSESSIONSTATUSREQUEST = "g";
    static constexpr const char* MSGTYPE_TRADINGSESSIONSTATUS = "h";
    // The service's own messages: commands, their answers and pushed texts.
    static constexpr const char* MSGTYPE_QORAREQUEST = "U9000";
    static constexpr const char* MSGTYPE_QORAREQUESTBATCH = "U9001";
    static constexpr const char* MSGTYPE_QORARESPONSE = "U9002";
    static constexpr const char* MSGTYPE_QORARESPONSEBATCH = "U9003";
    static constexpr const char* MSGTYPE_QORAREQUESTREJECT = "U9004";
    static constexpr const char* MSGTYPE_QORARTMPRESPONSE = "U9005";
    static constexpr const char* MSGTYPE_QORARTMPOBJECTRESPONSE = "U9006";
    static constexpr const char* MSGTYPE_QORAXMLMESSAGE = "U9007";
    static constexpr const char* MSGTYPE_QORARTMPMARKETDATASNAPSHOT = "U9008";
    static constexpr const char* MSGTYPE_DASMESSAGE = "U9009";

    // Field tags, FIX 4.4 numbers.
    static constexpr int FLDTAG_CURRENCY = 15;
    static constexpr int FLDTAG_MSGTYPE = 35;
    static constexpr int FLDTAG_SYMBOL = 55;
    static constexpr int FLDTAG_TEXT = 58;
    static constexpr int FLDTAG_TRANSACTTIME = 60;
    static constexpr int FLDTAG_SETTLTYPE = 63;
    static constexpr int FLDTAG_TESTREQID = 112;
    static constexpr int FLDTAG_EXPIRETIME = 126;
    static constexpr int FLDTAG_NORELATEDSYM = 146;
    static constexpr int FLDTAG_MDREQID = 262;
    static constexpr int FLDTAG_SUBSCRIPTIONREQUESTTYPE = 263;
    static constexpr int FLDTAG_MARKETDEPTH = 264;
    static constexpr int FLDTAG_MDUPDATETYPE = 265;
    static constexpr int FLDTAG_NOMDENTRYTYPES = 267;
    static constexpr int FLDTAG_NOMDENTRIES = 268;
    static constexpr int FLDTAG_MDENTRYTYPE = 269;
    static constexpr int FLDTAG_MDENTRYPX = 270;
    static constexpr int FLDTAG_MDENTRYDATE = 272;
    static constexpr int FLDTAG_MDENTRYTIME = 273;
    static constexpr int FLDTAG_QUOTECONDITION = 276;
    static constexpr int FLDTAG_MDREQREJREASON = 281;
    static constexpr int FLDTAG_QUOTEENTRYID = 299;
    static constexpr int FLDTAG_TRADSESREQID = 335;
    static constexpr int FLDTAG_TRADINGSESSIONID = 336;
    static constexpr int FLDTAG_TRADSESMODE = 339;
    static constexpr int FLDTAG_TRADSESSTATUS = 340;
    static constexpr int FLDTAG_TRADSESSTARTTIME = 341;
    static constexpr int FLDTAG_TRADSESOPENTIME = 342;
    static constexpr int FLDTAG_TRADSESCLOSETIME = 344;
    static constexpr int FLDTAG_REFMSGTYPE = 372;
    static constexpr int FLDTAG_NOTRADINGSESSIONS = 386;
    static constexpr int FLDTAG_EXPIREDATE = 432;
    static constexpr int FLDTAG_QUOTETYPE = 537;
    static constexpr int FLDTAG_ROUNDLOT = 561;
    static constexpr int FLDTAG_TRADSESSTATUSREJREASON = 567;
    static constexpr int FLDTAG_TRADINGSESSIONSUBID = 625;
    static constexpr int FLDTAG_CONTINGENCYTYPE = 1385;

    // Field tags of the service, from 9000.
    // Commands and their parameters.
    static constexpr int FLDTAG_QORACOMMANDID = 9000;
    static constexpr int FLDTAG_QORANOPARAM = 9001;
    static constexpr int FLDTAG_QORAPARAMNAME = 9002;
    static constexpr int FLDTAG_QORAPARAMVALUE = 9003;
    static constexpr int FLDTAG_QORACONTINUOUSFLAG = 9004;
    static constexpr int FLDTAG_EMBMSG = 9005;
    static constexpr int FLDTAG_BATCHREQUEST_BATCHRESPONSE = 9006;
    static constexpr int FLDTAG_QORAREQUESTREJECT = 9007;
    static constexpr int FLDTAG_QORAERRORDETAILS = 9008;
    // Price history.
    static constexpr int FLDTAG_QORATIMINGINTERVAL = 9020;
    static constexpr int FLDTAG_QORASTARTDATE = 9021;
    static constexpr int FLDTAG_QORASTARTTIME = 9022;
    static constexpr int FLDTAG_QORAENDDATE = 9023;
    static constexpr int FLDTAG_QORAENDTIME = 9024;
    static constexpr int FLDTAG_QORANOSNAPSHOT = 9025;
    static constexpr int FLDTAG_QORAINCLUDEWEEKENDS = 9026;
    static constexpr int FLDTAG_RESPONSE_FORMAT = 9027;
    static constexpr int FLDTAG_LAST_MINUTE = 9028;
    static constexpr int FLDTAG_LAST_MINUTE_VOLUME = 9029;
    // Instruments and trading sessions.
    static constexpr int FLDTAG_QORASYMID = 9040;
    static constexpr int FLDTAG_QORASYMPRECISION = 9041;
    static constexpr int FLDTAG_QORASERVERTIMEZONE = 9042;
    // Level-2 market data.
    static constexpr int FLDTAG_QORAMDORIGINATOR = 9060;
    static constexpr int FLDTAG_QORAMDQUOTES = 9061;
    static constexpr int FLDTAG_QORAMDQUOTEDATETIME = 9062;
    static constexpr int FLDTAG_QORAMDQUOTEEXPIREDATETIME = 9063;
    static constexpr int FLDTAG_QORAMDPRICELADDERS = 9064;
    static constexpr int FLDTAG_QORAMDLADDERID = 9065;
    static constexpr int FLDTAG_QORAMDENTRYLIST = 9066;
    static constexpr int FLDTAG_QORAMDENTRYAMOUNT = 9067;

    // MDEntryType values (tag 269), sent as one-character texts. The level-2
    // quote volume is read as the integer field whose tag is the character's
    // code ('B' = 66).
    static constexpr char MDENTRYTYPE_BID = '0';
    static constexpr char MDENTRYTYPE_ASK = '1';
    static constexpr char MDENTRYTYPE_HIGH = '7';
    static constexpr char MDENTRYTYPE_LOW = '8';
    static constexpr char MDENTRYTYPE_VOLUME = 'B';
    // Bar prices per side. FIX has no such values: lower-case letters that stay
    // apart from every FIX 4.4 value and from the request's closing "H", even
    // when compared without regard to case.
    static constexpr char MDENTRYTYPE_BIDOPEN = 'i';
    static constexpr char MDENTRYTYPE_BIDCLOSE = 'j';
    static constexpr char MDENTRYTYPE_BIDHIGH = 'k';
    static constexpr char MDENTRYTYPE_BIDLOW = 'l';
    static constexpr char MDENTRYTYPE_ASKOPEN = 'm';
    static constexpr char MDENTRYTYPE_ASKCLOSE = 'n';
    static constexpr char MDENTRYTYPE_ASKHIGH = 'o';
    static constexpr char MDENTRYTYPE_ASKLOW = 'p';

    // MDReqRejReason values (tag 281), the FIX 4.4 codes read as integers.
    static constexpr int MDREQREJREASON_UNKNOWN_SYMBOL = 0;
    static constexpr int MDREQREJREASON_DUPLICATE_MDREQID = 1;
    static constexpr int MDREQREJREASON_INSUFFICIENT_BANDWIDTH = 2;
    static constexpr int MDREQREJREASON_INSUFFICIENT_PERMISSIONS = 3;
    static constexpr int MDREQREJREASON_UNSUPPORTED_SUBSCRIPTIONREQUESTTYPE = 4;
    static constexpr int MDREQREJREASON_UNSUPPORTED_MARKETDEPTH = 5;
    static constexpr int MDREQREJREASON_UNSUPPORTED_MDUPDATETYPE = 6;
    static constexpr int MDREQREJREASON_UNSUPPORTED_AGGREGATEDBOOK = 7;
    static constexpr int MDREQREJREASON_UNSUPPORTED_MDENTRYTYPE = 8;
    static constexpr int MDREQREJREASON_UNSUPPORTED_TRADINGSESSIONID = 9;

    // SubscriptionRequestType values (tag 263), FIX 4.4 codes as integers.
    static constexpr int SUBSCRIPTIONREQUESTTYPE_SNAPSHOT = 0;
    static constexpr int SUBSCRIPTIONREQUESTTYPE_SUBSCRIBE = 1;
    static constexpr int SUBSCRIPTIONREQUESTTYPE_UNSUBSCRIBE = 2;

    // Continuation flag of multi-part answers and batch members
    // (FLDTAG_QORACONTINUOUSFLAG): an absent flag reads 0, the last part.
    static constexpr int QORACONTINUOUS_END = 0;
    static constexpr int QORACONTINUOUS_PACKET = 1;

    // Channels, bit masks: a frame travels on one channel; setMessageFilter
    // takes an OR of the channels a session no longer wants.
    static constexpr int CHANNEL_TRADING_DATA = 1;
    static constexpr int CHANNEL_MARKET_DATA = 2;

    // Session status codes reported through ISessionStatus.
    static constexpr int STATUSCODE_DISCONNECTED = 1;
    static constexpr int STATUSCODE_LOGGEDIN = 2;
    static constexpr int STATUSCODE_EXPIRED = 3;
    static constexpr int STATUSCODE_SHUTDOWN = 4;
    static constexpr int STATUSCODE_FORCED_RELOGIN = 5;
    static constexpr int STATUSCODE_RELOGIN_FAILED = 6;

    // Message codes that accompany a status code; 0 means none.
    static constexpr int MSGCODE_CONNECTED = 1;
    static constexpr int MSGCODE_RECONNETING = 2;
    static constexpr int MSGCODE_SESSNCLOSED = 3;
};

} // namespace merrow
