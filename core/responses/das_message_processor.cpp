#include "core/responses/das_message_processor.h"

#include <cstring>

#include "core/messages/time_utils.h"

namespace zel {

namespace {

ZelTableUpdateType kindOf(const char* text)
{
    switch (text[0]) {
    case 'I': return ZelTableUpdateType::Insert;
    case 'U': return ZelTableUpdateType::Update;
    case 'D': return ZelTableUpdateType::Delete;
    default: return ZelTableUpdateType::Unknown;
    }
}

constexpr const char* kDefaultNothing = "!=";

} // namespace

// ---- instruments ----

UpdateInstrumentsParser::UpdateInstrumentsParser(TablesUpdatesReader* reader, IInstrumentsLookup* instruments,
                                                 const char* nothing)
    : TRecordParser<Instrument>(instrumentsFieldMap()),
      m_reader(reader),
      m_instruments(instruments),
      m_nothing(nothing ? nothing : kDefaultNothing)
{
}

void UpdateInstrumentsParser::storeField(Instrument& record, int field, const char* text, size_t length)
{
    if (m_nothing.size() == length && std::memcmp(text, m_nothing.data(), length) == 0) {
        record.setFieldMissing(field);
        return;
    }
    m_map.store(record, field, text, length);
}

bool UpdateInstrumentsParser::finishLine(int, std::unique_ptr<Instrument> record)
{
    // Without its identifier a line names no instrument.
    if (record->isFieldMissing(0) || !m_instruments)
        return true;
    const std::shared_ptr<const Instrument> known = m_instruments->find(record->offerID.c_str());
    if (!known)
        return true;
    // The price stream is compared only when the line carried it.
    if (!record->isFieldMissing(23) && known->priceStream != record->priceStream)
        return true;
    auto offer = std::make_unique<Offer>();
    offer->OfferID = record->offerID;
    RefPtr<OfferRow> row = OfferRowFactory::create(std::move(offer), record.get(), true);
    if (!row)
        return true;
    for (int column : {OfferColumns::QuoteID, OfferColumns::Bid, OfferColumns::Ask, OfferColumns::Low,
                       OfferColumns::High, OfferColumns::Volume, OfferColumns::Time, OfferColumns::BidTradable,
                       OfferColumns::AskTradable})
        row->setValid(column, false);
    m_reader->add(row.get(), ZelTable::Offers);
    return true;
}

// ---- routing ----

DasMessageProcessor::DasMessageProcessor(TablesUpdatesReader* reader, const OfferRowFactory& factory,
                                         IInstrumentsLookup* instruments, const char* nothing)
    : m_reader(reader)
{
    m_parsers["OFFER"] = std::make_unique<UpdateOffersParser>(reader, factory);
    m_parsers["ACCT"] = std::make_unique<UpdateAccountsParser>(accountsFieldMap(), reader);
    m_parsers["ORDER"] = std::make_unique<UpdateOrdersParser>(ordersFieldMap(), reader);
    m_parsers["TRADE"] = std::make_unique<UpdateTradesParser>(tradesFieldMap(), reader);
    m_parsers["CLSDTRADE"] = std::make_unique<UpdateClosedTradesParser>(closedTradesFieldMap(), reader);
    m_parsers["MAIL"] = std::make_unique<UpdateMessagesParserWithDecoding>(messagesFieldMap(), reader);
    m_parsers["INSTRMT"] = std::make_unique<UpdateInstrumentsParser>(reader, instruments, nothing);
}

DasMessageProcessor::~DasMessageProcessor() = default;

bool DasMessageProcessor::onLineBegin(int)
{
    m_current = nullptr;
    m_kind = ZelTableUpdateType::Unknown;
    return true;
}

bool DasMessageProcessor::onNextField(int line, int field, const char* text, size_t length)
{
    if (line == 0) {
        if (field == 1)
            m_reader->setServerTime(TimeUtils::parseQORADasMessageTimeStamp(text).getSerial());
        return true;
    }
    if (field == 0) {
        auto it = m_parsers.find(std::string(text, length));
        m_current = it == m_parsers.end() ? nullptr : it->second.get();
        if (m_current)
            return m_current->onLineBegin(line, nullptr);
        return true;
    }
    if (field == 1) {
        m_kind = kindOf(text);
        return true;
    }
    return m_current ? m_current->onNextField(line, field - 2, text, length) : true;
}

bool DasMessageProcessor::onLineEnd(int line)
{
    ITokenizerCallback* parser = std::exchange(m_current, nullptr);
    if (line == 0 || !parser || m_kind == ZelTableUpdateType::Unknown)
        return true;
    // Only a line that adds an entry adds a kind: the reader's lists stay parallel.
    const int before = m_reader->rowCount();
    parser->onLineEnd(line, nullptr);
    if (m_reader->rowCount() > before)
        m_reader->setUpdateType(m_kind);
    return true;
}

// ---- offers only ----

OfferDasMessageProcessor::OfferDasMessageProcessor(OffersTableResponseReader* reader, const OfferRowFactory& factory)
    : m_parser(factory, reader, nullptr, 0)
{
}

bool OfferDasMessageProcessor::onLineBegin(int)
{
    m_isOffer = false;
    return true;
}

bool OfferDasMessageProcessor::onNextField(int line, int field, const char* text, size_t length)
{
    if (line == 0)
        return true;
    if (field == 0) {
        m_isOffer = length == 5 && std::memcmp(text, "OFFER", 5) == 0;
        return m_isOffer ? m_parser.onLineBegin(line, nullptr) : true;
    }
    if (field == 1 || !m_isOffer)
        return true;
    return m_parser.onNextField(line, field - 2, text, length);
}

bool OfferDasMessageProcessor::onLineEnd(int line)
{
    if (line == 0 || !m_isOffer)
        return true;
    return m_parser.onLineEnd(line, nullptr);
}

} // namespace zel
