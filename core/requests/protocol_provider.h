#pragma once
// What differs between the two wire protocols at session level: the request and
// reader factories, the commands sent to initialize the trade desk and how their
// answers load into it, and the marker of an unchanged field in pushed updates.
//
// Ownership: not reference counted; ProtocolProviderFactory::create returns a
// provider that the caller owns. Each provider holds one reference to each of its
// factories.
// [Threading] Made and initialized by the login (or the thread of the last
// initial answer); afterwards its factories are shared and only read. The marker
// changes only during a DAS initialization, under its own mutex.

#include <memory>
#include <string>
#include <vector>

#include "core/base/mutex.h"
#include "core/base/ref_ptr.h"
#include "core/requests/das_request_factory.h"
#include "core/requests/rtmp_request_factory.h"
#include "core/responses/properties_response_processor.h"
#include "core/responses/response_reader_factory.h"
#include "merrow/user_session.h"

namespace zel {

class TradeDesk;

class IProtocolProvider {
public:
    virtual ~IProtocolProvider() = default;
    // With a reference for the caller.
    virtual RequestFactoryBase* getRequestFactory() = 0;
    virtual ResponseReaderFactory* getResponseReaderFactory() = 0;
    // Appends the init commands; with requests, the requests too (the caller takes
    // their references).
    virtual void getInitCommands(std::vector<RefPtr<IZelRequest>>* requests, std::vector<int>& commands) = 0;
    // Loads the answers (one per command, same index) that this protocol loads.
    // Missing answers (a shorter list) are skipped, never read past the end.
    virtual void initTradeDeskFromMessages(TradeDesk* desk, const std::vector<int>& commands,
                                           const std::vector<std::string>& answers) = 0;
    // The marker text; valid until the provider is destroyed.
    virtual std::string getNothingFieldValue() = 0;
};

class DasProtocolProvider : public IProtocolProvider {
public:
    explicit DasProtocolProvider(merrow::IUserSession* session);
    ~DasProtocolProvider() override = default;
    RequestFactoryBase* getRequestFactory() override { return m_requests.share(); }
    ResponseReaderFactory* getResponseReaderFactory() override { return m_readers.share(); }
    void getInitCommands(std::vector<RefPtr<IZelRequest>>* requests, std::vector<int>& commands) override;
    void initTradeDeskFromMessages(TradeDesk* desk, const std::vector<int>& commands,
                                   const std::vector<std::string>& answers) override;
    std::string getNothingFieldValue() override;

private:
    RefPtr<DasRequestFactory> m_requests;
    RefPtr<DasResponseReaderFactory> m_readers;
    Mutex m_mutex;
    std::string m_nothing ZEL_GUARDED_BY(m_mutex) = "!=";
};

class RTMPProtocolProvider : public IProtocolProvider {
public:
    explicit RTMPProtocolProvider(merrow::IUserSession* session);
    ~RTMPProtocolProvider() override = default;
    RequestFactoryBase* getRequestFactory() override { return m_requests.share(); }
    ResponseReaderFactory* getResponseReaderFactory() override { return m_readers.share(); }
    void getInitCommands(std::vector<RefPtr<IZelRequest>>* requests, std::vector<int>& commands) override;
    void initTradeDeskFromMessages(TradeDesk* desk, const std::vector<int>& commands,
                                   const std::vector<std::string>& answers) override;
    std::string getNothingFieldValue() override { return "!="; }

    // Adds the permission properties RTMP servers leave out, never changing one
    // that is present.
    static void adjustPermissions(PropertiesResponseReader& reader);

private:
    RefPtr<RTMPRequestFactory> m_requests;
    RefPtr<RTMPResponseReaderFactory> m_readers;
};

class ProtocolProviderFactory {
public:
    // RTMP when the session's "TransportProvider" is "RTMP" (any case), else DAS.
    static std::unique_ptr<IProtocolProvider> create(merrow::IUserSession* session);
    // The reader factory for a price session's transport, one reference for the caller.
    static ResponseReaderFactory* createPriceResponseReader(const char* transport);
};

} // namespace zel
