#include "core/requests/protocol_provider.h"

#include <strings.h>

#include <cstdio>

#include "core/requests/zel_const.h"
#include "core/responses/account_properties_parser.h"
#include "core/responses/instruments_parsers.h"
#include "core/responses/properties_response_processor.h"
#include "core/responses/result_set_tokenizer.h"
#include "core/responses/table_parsers.h"
#include "core/session/trade_desk.h"
#include "core/tables/offer_row_factory.h"
#include "vornexpat/xml_parser.h"

namespace zel {

namespace {

constexpr int kSystemProperties = 3;
constexpr int kInstruments = 139;
constexpr int kAccountProperties = 138;
constexpr int kAccounts = 5;
constexpr int kOffers = 9;

template <class Parser>
void tokenize(const std::string& text, Parser& parser)
{
    CResultSetTokenizer(text.c_str()).tokenize(&parser);
}

} // namespace

// ---- DAS ----

DasProtocolProvider::DasProtocolProvider(merrow::IUserSession* session)
    : m_requests(adoptRef(new DasRequestFactory(session))), m_readers(adoptRef(new DasResponseReaderFactory()))
{
}

void DasProtocolProvider::getInitCommands(std::vector<RefPtr<IZelRequest>>* requests, std::vector<int>& commands)
{
    for (int command : {kSystemProperties, kInstruments, kAccountProperties}) {
        if (requests)
            requests->push_back(adoptRef(m_requests->createRequestByCommand(static_cast<RequestCommand>(command))));
        commands.push_back(command);
    }
}

std::string DasProtocolProvider::getNothingFieldValue()
{
    LockGuard<Mutex> lock(m_mutex);
    return m_nothing;
}

void DasProtocolProvider::initTradeDeskFromMessages(TradeDesk* desk, const std::vector<int>& commands,
                                                   const std::vector<std::string>& answers)
{
    if (!desk)
        return;
    TablesManager* tables = desk->tables();
    for (size_t i = 0; i < commands.size() && i < answers.size(); ++i) {
        const std::string& answer = answers[i];
        switch (commands[i]) {
        case kSystemProperties: {
            SystemProperties* properties = desk->properties();
            properties->init(PropertiesResponseProcessor(';', '\n').parse(answer.c_str()));
            const char* nothing = properties->findProperty(ZelConst::SYS_PROPERTY_NON_CHANGED_VALUE);
            if (nothing && *nothing) {
                {
                    LockGuard<Mutex> lock(m_mutex);
                    m_nothing = nothing;
                }
                m_readers->setNothingFieldValue(nothing);
            }
            if (const char* currency = properties->findProperty("BASE_CRNCY"))
                tables->setAccountCurrency(currency);
            int unit = 0;
            if (TradingSettingsProvider::parseInt(properties->findProperty("BASE_UNIT_SIZE"), unit))
                tables->setBaseUnitSize(unit);
            break;
        }
        case kInstruments: {
            InstrumentsParser parser(tables->instruments());
            tokenize(answer, parser);
            break;
        }
        case kAccountProperties: {
            AccountPropertiessParser parser(tables->accountsProperties());
            tokenize(answer, parser);
            break;
        }
        case kAccounts: {
            RefPtr<ILiveTable<AccountRow>> table = tables->liveTable<AccountRow>();
            if (table) {
                AccountsParser parser(nullptr, table.get(), static_cast<int>(tables->getMode()));
                tokenize(answer, parser);
            }
            break;
        }
        case kOffers: {
            RefPtr<ILiveTable<OfferRow>> table = tables->liveTable<OfferRow>();
            if (table) {
                OfferRowFactory factory(tables->instruments());
                OffersParser parser(factory, nullptr, table.get(), static_cast<int>(tables->getMode()));
                tokenize(answer, parser);
            }
            break;
        }
        default:
            break;
        }
    }
}

// ---- RTMP ----

namespace {

// The permission defaults RTMP servers rely on, in order; a repeated code changes
// nothing the second time.
constexpr std::pair<int, char> kRtmpDefaults[34] = {
    {81, 'Y'},  {77, 'Y'},  {79, 'Y'},  {80, 'Y'},  {78, 'Y'},  {85, 'Y'},  {137, 'Y'}, {88, 'Y'},  {86, 'Y'},
    {89, 'N'},  {87, 'Y'},  {87, 'Y'},  {94, 'Y'},  {88, 'Y'},  {108, 'N'}, {107, 'N'}, {82, 'Y'},  {83, 'Y'},
    {138, 'Y'}, {96, 'Y'},  {99, 'Y'},  {103, 'Y'}, {150, 'N'}, {151, 'N'}, {156, 'N'}, {157, 'N'}, {90, 'N'},
    {159, 'N'}, {90, 'N'},  {159, 'N'}, {102, 'Y'}, {93, 'Y'},  {92, 'Y'},  {92, 'Y'}};

std::string propertyName(const char* prefix, int code)
{
    char name[32];
    std::snprintf(name, sizeof name, "%s%i", prefix, code);
    return name;
}

void addIfAbsent(PropertiesResponseReader& reader, const std::string& name, const char* value)
{
    if (!reader.find(name.c_str()))
        reader.add(name, value);
}

} // namespace

RTMPProtocolProvider::RTMPProtocolProvider(merrow::IUserSession* session)
    : m_requests(adoptRef(new RTMPRequestFactory(session))), m_readers(adoptRef(new RTMPResponseReaderFactory()))
{
}

void RTMPProtocolProvider::getInitCommands(std::vector<RefPtr<IZelRequest>>* requests, std::vector<int>& commands)
{
    commands.push_back(kSystemProperties);
    commands.push_back(kInstruments);
    if (!requests)
        return;
    requests->push_back(adoptRef<IZelRequest>(m_requests->createInitRequest()));
    RefPtr<IZelRequest> subscr = adoptRef(m_requests->createRequestByCommand(CmdGetInstruments));
    if (subscr)
        requests->push_back(std::move(subscr));
}

void RTMPProtocolProvider::adjustPermissions(PropertiesResponseReader& reader)
{
    for (const auto& d : kRtmpDefaults)
        addIfAbsent(reader, propertyName("DP_", d.first), d.second == 'Y' ? "Y" : "N");
    for (int i = 0; i < 20; ++i) {
        for (const char* prefix : {"DP_", "TP_", "CP_"})
            addIfAbsent(reader, propertyName(prefix, kRtmpDefaults[i].first), "N");
    }
}

void RTMPProtocolProvider::initTradeDeskFromMessages(TradeDesk* desk, const std::vector<int>& commands,
                                                     const std::vector<std::string>& answers)
{
    if (!desk)
        return;
    for (size_t i = 0; i < commands.size() && i < answers.size(); ++i) {
        const std::string& answer = answers[i];
        if (commands[i] == kSystemProperties) {
            // The servers write "&" bare; every one is escaped before parsing.
            std::string escaped;
            escaped.reserve(answer.size() + 16);
            for (char c : answer) {
                if (c == '&')
                    escaped += "&amp;";
                else
                    escaped += c;
            }
            auto reader = std::make_unique<PropertiesResponseReader>();
            CommandSAXParser parser(reader.get());
            (void)XmlParser::Parse(escaped.c_str(), escaped.size(), &parser);
            adjustPermissions(*reader);
            SystemProperties* properties = desk->properties();
            properties->init(std::move(reader));
            const char* subscr = properties->findProperty("RTMP_SYMBOL_SUBSCR_ENABLED");
            desk->permissions()->setSymbolSubscrEnabledFlag(subscr && !strcasecmp(subscr, "Y"));
        } else if (commands[i] == kInstruments) {
            InstrumentsSAXParser parser(desk->tables()->instruments());
            (void)XmlParser::Parse(answer.c_str(), answer.size(), &parser);
        }
    }
}

// ---- choosing ----

std::unique_ptr<IProtocolProvider> ProtocolProviderFactory::create(merrow::IUserSession* session)
{
    const char* transport = session ? session->getSessionProperty(ZelConst::TRANSPORT_PROVIDER_PROPERTY) : nullptr;
    if (transport && !strcasecmp(transport, ZelConst::RTMP_TRANSPORT_NAME))
        return std::make_unique<RTMPProtocolProvider>(session);
    return std::make_unique<DasProtocolProvider>(session);
}

ResponseReaderFactory* ProtocolProviderFactory::createPriceResponseReader(const char* transport)
{
    if (transport && !strcasecmp(transport, ZelConst::RTMP_TRANSPORT_NAME))
        return new RTMPResponseReaderFactory();
    return new DasResponseReaderFactory();
}

} // namespace zel
