#include "core/marketdata/level2_market_data_snapshot.h"

#include <cstring>
#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>

#include "core/marketdata/market_data_fields.h"
#include "core/messages/message_fields.h"
#include "merrow/fix_defs.h"
#include "vorntool/date.h"

namespace zel {

using merrow::IFixDefs;

namespace {

// Quote times are whole seconds since 1970 (UTC), sent as an integer or a double; 0
// for an absent field, a value below 1 or one past the last date.
double readQuoteTime(const merrow::IFieldGroup* group, int tag)
{
    const merrow::IField* field = group->getField(tag);
    if (field == nullptr)
        return 0.0;
    const double seconds = field->getType() == merrow::WIRETYPE_DOUBLE ? field->getDoubleValue()
                                                                       : static_cast<double>(field->getIntValue());
    constexpr double kLastSecond = 253402300799.0;  // 9999-12-31 23:59:59
    if (!(seconds >= 1) || seconds > kLastSecond)
        return 0.0;
    const std::time_t whole = static_cast<std::time_t>(seconds);
    std::tm utc{};
    if (gmtime_r(&whole, &utc) == nullptr)
        return 0.0;
    return vorntool::date::construct(static_cast<uint16_t>(utc.tm_year + 1900), static_cast<uint16_t>(utc.tm_mon + 1),
                                     static_cast<uint16_t>(utc.tm_mday), static_cast<uint16_t>(utc.tm_hour),
                                     static_cast<uint16_t>(utc.tm_min), static_cast<uint16_t>(utc.tm_sec), 0);
}

bool entryKind(char type, CMDPriceEntry::PriceEntryType* kind)
{
    switch (type) {
    case IFixDefs::MDENTRYTYPE_BID: *kind = CMDPriceEntry::Bid; return true;
    case IFixDefs::MDENTRYTYPE_ASK: *kind = CMDPriceEntry::Ask; return true;
    case IFixDefs::MDENTRYTYPE_HIGH: *kind = CMDPriceEntry::High; return true;
    case IFixDefs::MDENTRYTYPE_LOW: *kind = CMDPriceEntry::Low; return true;
    default: return false;
    }
}

int size(const merrow::IFieldGroupList* list)
{
    return list != nullptr ? list->size() : 0;
}

} // namespace

std::string CLevel2MarketDataSnapshot::toString() const
{
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << std::setprecision(15);
    static const char* const kEntryNames[] = {"bid = ", "ask = ", "high = ", "low = "};
    bool first = true;
    auto line = [&]() -> std::ostringstream& {
        if (!first)
            out << '\n';
        first = false;
        return out;
    };
    for (const auto& data : m_marketDatas) {
        line() << "MD: originator = " << data->getOriginator() << "; sequenceNumber = " << data->getSequenceNumber();
        for (const auto& quote : data->getQuotes()) {
            line() << "--== Quote: currency = " << quote->getCurrency() << "; quoteId = " << quote->getQuoteId();
            for (const auto& ladder : quote->getPriceLadders())
                for (const auto& entry : ladder->getPriceEntries())
                    line() << "     " << kEntryNames[entry->getType()] << entry->getRate()
                           << " (amount = " << entry->getAmount() << "; condition = " << entry->getCondition() << ")";
        }
    }
    return out.str();
}

bool CLevel2MarketDataSnapshot::fill(merrow::IMessage* message)
{
    reset();
    if (message == nullptr ||
        std::strcmp(message->getMsgType(), IFixDefs::MSGTYPE_QORARTMPMARKETDATASNAPSHOT) != 0)
        return false;
    const merrow::IFieldGroupList* originators = message->getGroupList(IFixDefs::FLDTAG_NOMDENTRIES);
    if (originators == nullptr)
        return false;
    for (int i = 0; i < size(originators); ++i) {
        const merrow::IFieldGroup* o = originators->get(i);
        auto data = std::make_unique<CLevel2MarketData>(fieldTextOrEmpty(o, IFixDefs::FLDTAG_QORAMDORIGINATOR),
                                                        o->getIntValue(IFixDefs::FLDTAG_MDREQID));
        const merrow::IFieldGroupList* quotes = o->getGroupList(IFixDefs::FLDTAG_QORAMDQUOTES);
        for (int j = 0; j < size(quotes); ++j) {
            const merrow::IFieldGroup* q = quotes->get(j);
            auto quote = std::make_unique<CMDQuote>();
            quote->m_currency = fieldTextOrEmpty(q, IFixDefs::FLDTAG_SYMBOL);
            quote->m_dateTime = readQuoteTime(q, IFixDefs::FLDTAG_QORAMDQUOTEDATETIME);
            quote->m_quoteId = fieldTextOrEmpty(q, IFixDefs::FLDTAG_QUOTEENTRYID);
            quote->m_expiration = readQuoteTime(q, IFixDefs::FLDTAG_QORAMDQUOTEEXPIREDATETIME);
            quote->m_volume = q->getIntValue(static_cast<int>(IFixDefs::MDENTRYTYPE_VOLUME));
            quote->m_offerId = fieldTextOrEmpty(q, IFixDefs::FLDTAG_QORASYMID);
            const merrow::IFieldGroupList* ladders = q->getGroupList(IFixDefs::FLDTAG_QORAMDPRICELADDERS);
            for (int k = 0; k < size(ladders); ++k) {
                const merrow::IFieldGroup* l = ladders->get(k);
                auto ladder = std::make_unique<CMDPriceLadder>(fieldTextOrEmpty(l, IFixDefs::FLDTAG_QORAMDLADDERID));
                const merrow::IFieldGroupList* entries = l->getGroupList(IFixDefs::FLDTAG_QORAMDENTRYLIST);
                for (int n = 0; n < size(entries); ++n) {
                    const merrow::IFieldGroup* e = entries->get(n);
                    CMDPriceEntry::PriceEntryType kind;
                    if (!entryKind(readEntryType(e), &kind))
                        continue;
                    ladder->priceEntries().push_back(std::make_unique<CMDPriceEntry>(
                        kind, e->getDoubleValue(IFixDefs::FLDTAG_MDENTRYPX),
                        e->getDoubleValue(IFixDefs::FLDTAG_QORAMDENTRYAMOUNT),
                        fieldTextOrEmpty(e, IFixDefs::FLDTAG_QUOTECONDITION)));
                }
                quote->m_ladders.push_back(std::move(ladder));
            }
            data->m_quotes.push_back(std::move(quote));
        }
        m_marketDatas.push_back(std::move(data));
    }
    return true;
}

} // namespace zel
