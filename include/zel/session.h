#pragma once
// The session: what an application creates, logs in with, subscribes to and sends
// requests through; and CZelTransport, the process-wide entry point that makes
// sessions and holds the transport settings.
//
// Ownership: CZelTransport::createSession returns a new session holding one
// reference for the caller. Getters returning an interface add a reference that the
// caller releases. Releasing the last reference logs out and ends every thread of
// the session; this may even happen inside one of the session's callbacks.
// [Threading] Every operation may be called from any thread. Which operations act
// depends on the status (IZelSessionStatus): outside their status they return null,
// do nothing or return the status number, as each one says.
// [Exceptions] Nothing throws to the application.

#include <cstdint>

#include "vorntool/add_ref.h"
#include "zel/request.h"
#include "zel/request_factory.h"
#include "zel/response_listener.h"
#include "zel/session_descriptor.h"
#include "zel/session_status.h"
#include "zel/time_converter.h"
#include "zel/zel_export.h"

class IZelLoginRules;
class IZelResponseReaderFactory;
class IZelTableManager;
class IZelAccountRow;

// Whether the trade session delivers prices: NoPrice filters out market data from
// the time the trade session opens.
enum class ZelPriceUpdateMode : int32_t { Default = 0, NoPrice = 1 };

// How responses are kept: readers only, the live tables only, or both.
enum class ZelTableManagerMode : int32_t { NoTableManager = 0, TableManagerOnly = 1, TableManagerAndReaders = 2 };

class ZEL_API IZelSession : public IAddRef {
public:
    // Adds a reference; null until the login has built them.
    virtual IZelLoginRules* getLoginRules() = 0;
    // Starts logging in and returns at once; the outcome arrives through the status
    // listeners (statuses, or onLoginFailed then Disconnected). Outside
    // Disconnected: returns the current status number and does nothing. Otherwise
    // non-zero when the login worker started, 0 when it could not.
    virtual int login(const char* user, const char* password, const char* url, const char* connection) = 0;
    // Closes the price and trade sessions on the caller's thread (Disconnecting,
    // then Disconnected). Does nothing while disconnected or before the trade
    // session has opened.
    virtual void logout() = 0;
    // Adds a reference; a listener already subscribed stays once.
    virtual void subscribeSessionStatus(IZelSessionStatus* listener) = 0;
    virtual void unsubscribeSessionStatus(IZelSessionStatus* listener) = 0;
    // The trading sessions of the current login; adds a reference; null before.
    virtual IZelSessionDescriptorCollection* getTradingSessionDescriptors() = 0;
    // The answer to TradingSessionRequested: a descriptor's getID() and the PIN
    // (null read as ""). Call it from inside the status callback. Ignored before
    // login.
    virtual void setTradingSession(const char* sessionID, const char* pin) = 0;
    // Adds a reference; subscribing twice delivers twice.
    virtual void subscribeResponse(IZelResponseListener* listener) = 0;
    virtual void unsubscribeResponse(IZelResponseListener* listener) = 0;
    // Adds a reference; null unless Connected or PriceSessionReconnecting.
    virtual IZelRequestFactory* getRequestFactory() = 0;
    // Adds a reference; null unless Connected.
    virtual IZelResponseReaderFactory* getResponseReaderFactory() = 0;
    // Sends when Connected; otherwise ignored. The answer comes to the response
    // listeners under the request's identifier.
    virtual void sendRequest(IZelRequest* request) = 0;
    // Adds a reference; never null.
    virtual IZelTimeConverter* getTimeConverter() = 0;
    // Read when the trade session opens.
    virtual void setPriceUpdateMode(ZelPriceUpdateMode mode) = 0;
    virtual ZelPriceUpdateMode getPriceUpdateMode() = 0;
    // The server's time as of the last pushed update, a date serial; 0 before any.
    virtual double getServerTime() = 0;
    // Writes the account statement's web address. Returns its length, the length
    // needed when buffer is null, -1 when reports are not allowed, -2 when the
    // buffer is too small (left unchanged), -3 when not logged in.
    virtual int getReportURL(char* buffer, int size, IZelAccountRow* account, double from, double till,
                             const char* format, const char* reportName, const char* language, long codePage) = 0;
    // Adds a reference; null without a table manager.
    virtual IZelTableManager* getTableManager() = 0;
    // Acts only while Disconnected: the mode of the next login.
    virtual void useTableManager(ZelTableManagerMode mode) = 0;

protected:
    IZelSession() = default;
    ~IZelSession() override = default;
};

// Process-wide settings apply to sessions created afterwards.
class ZEL_API CZelTransport {
public:
    CZelTransport() = delete;

    // A new session holding one reference for the caller.
    static IZelSession* createSession();
    // Sends every connection through an HTTP CONNECT proxy; a non-null user adds
    // basic authorization. A null or empty host connects directly.
    static void setProxy(const char* host, int port, const char* user, const char* password);
    // The certificate-authority file for TLS; null or empty: the system's store.
    static void setCAInfo(const char* path);
    // Resume attempts after a lost connection.
    static void setNumberOfReconnections(int count);
};

// The API's own version text.
extern "C" ZEL_API const char sz_pellora_api_version[];
