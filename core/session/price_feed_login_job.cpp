#include "core/session/price_feed_login_job.h"

#include <exception>

#include "core/requests/zel_const.h"
#include "core/session/server_communicator.h"
#include "merrow/fix_defs.h"
#include "merrow/generic_exception.h"

namespace zel {

PriceFeedLoginJob::PriceFeedLoginJob(PriceFeedLoginData data, ServerCommunicator* communicator)
    : m_data(std::move(data)), m_communicator(communicator)
{
}

PriceFeedLoginJob::~PriceFeedLoginJob()
{
    join();
}

bool PriceFeedLoginJob::run()
{
    return start(nullptr);
}

void PriceFeedLoginJob::wait()
{
    join();
}

bool PriceFeedLoginJob::isOnThisThread() const
{
    return isRunning() && m_threadId.load() == std::this_thread::get_id();
}

void PriceFeedLoginJob::run(void*)
{
    m_threadId.store(std::this_thread::get_id());
    ServerCommunicator& c = *m_communicator;
    ServerCommunicator::OwnerHold hold(c, true);
    if (!hold)
        return;
    merrow::IUserSession* session = nullptr;
    std::string failure;
    try {
        session = c.sessionFactory().createPriceSession(m_data.url.c_str(), m_data.priceServer.c_str(),
                                                        ZelConst::PRICE_SERVER, "", "", ZelConst::APPLICATION_NAME, "");
        if (!session)
            throw merrow::GenericException("loadStationDescriptor of price feed server failed");
        session->subscribe(static_cast<merrow::IUserSessionStatusListener*>(c.statusListener()));
        const std::string& name = m_data.priceServer;
        merrow::TradingSessionDesc desc("QORA", name.c_str(), name.c_str(), name.c_str(), false);
        session->setTradingSession(&desc);
        session->setMessageFilter(merrow::IFixDefs::CHANNEL_TRADING_DATA);
        if (!session->loadStationDescriptor())
            throw merrow::GenericException("loadStationDescriptor of price feed server failed");
        // A refused price login fails the login; a Connected without prices would
        // be a login that silently does not work.
        if (session->loginBySession(m_data.sessionID.c_str(), m_data.subID.c_str(), m_data.traderID.c_str(), 0) != 1)
            throw merrow::GenericException("The price server refused the login.");
        merrow::IUserSession* opened = session;
        session = nullptr;  // the communicator owns it from here
        c.onPriceFeedSessionOpened(opened);
    } catch (const merrow::GenericException& e) {
        failure = *e.getText() ? e.getText() : "The price server refused the login.";
    } catch (const std::exception& e) {
        failure = *e.what() ? e.what() : "The price server refused the login.";
    } catch (...) {
        failure = "The price server refused the login.";
    }
    if (session) {
        session->unsubscribe(static_cast<merrow::IUserSessionStatusListener*>(c.statusListener()));
        c.sessionFactory().freeUserSession(session);
    }
    if (!failure.empty())
        c.onPriceFeedLoginFailed(failure);
}

} // namespace zel
