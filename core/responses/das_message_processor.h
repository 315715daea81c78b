#pragma once
// Routes the lines of a pushed DAS message to the parser of the table each names:
// line 0 carries the server time (field 1); every further line is
// "CODE;KIND;fields of that table's line...". Unknown codes and kinds are skipped.
//
// [Threading] A processor lives for one message on the thread that delivers it; it
// reads the instruments through the lookup and writes only new rows.

#include <map>
#include <memory>
#include <string>

#include "core/responses/result_set_tokenizer.h"
#include "core/responses/table_parsers.h"
#include "core/responses/tables_updates_reader.h"
#include "core/tables/instrument.h"
#include "core/tables/offer_row_factory.h"

namespace zel {

// A table parser whose rows go to the updates reader.
template <class Row>
class TUpdateParser : public TRecordParser<typename Row::RecordType> {
public:
    using Record = typename Row::RecordType;
    TUpdateParser(const FieldMap<Record>& map, TablesUpdatesReader* reader)
        : TRecordParser<Record>(map), m_reader(reader)
    {
    }

protected:
    virtual RefPtr<Row> makeRow(std::unique_ptr<Record> record)
    {
        return adoptRef(new Row(std::move(record), true));
    }
    bool finishLine(int, std::unique_ptr<Record> record) override
    {
        RefPtr<Row> row = makeRow(std::move(record));
        if (row)
            m_reader->add(row.get(), Row::kTable);
        return true;
    }

    TablesUpdatesReader* m_reader;
};

class UpdateOffersParser : public TUpdateParser<OfferRow> {
public:
    UpdateOffersParser(TablesUpdatesReader* reader, const OfferRowFactory& factory)
        : TUpdateParser(offersFieldMap(), reader), m_factory(factory)
    {
    }

protected:
    RefPtr<OfferRow> makeRow(std::unique_ptr<Offer> record) override { return m_factory.create(std::move(record), true); }

private:
    const OfferRowFactory& m_factory;
};

using UpdateAccountsParser = TUpdateParser<AccountRow>;
using UpdateOrdersParser = TUpdateParser<OrderRow>;
using UpdateTradesParser = TUpdateParser<TradeRow>;
using UpdateClosedTradesParser = TUpdateParser<ClosedTradeRow>;
using UpdateMessagesParserWithDecoding = TDecodingMessages<TUpdateParser<MessageRow>>;

// An instrument change: the line becomes an offers entry of the instrument's
// columns, its price columns not valid; fields holding the "nothing" marker are
// left out and their columns not valid either.
class UpdateInstrumentsParser : public TRecordParser<Instrument> {
public:
    UpdateInstrumentsParser(TablesUpdatesReader* reader, IInstrumentsLookup* instruments, const char* nothing);

protected:
    void storeField(Instrument& record, int field, const char* text, size_t length) override;
    bool finishLine(int line, std::unique_ptr<Instrument> record) override;

private:
    TablesUpdatesReader* m_reader;
    IInstrumentsLookup* m_instruments;
    std::string m_nothing;
};

class DasMessageProcessor : public ITokenizerCallback {
public:
    // nothing: the marker of an unchanged field (null: "!=").
    DasMessageProcessor(TablesUpdatesReader* reader, const OfferRowFactory& factory, IInstrumentsLookup* instruments,
                        const char* nothing);
    ~DasMessageProcessor() override;

    bool onLineBegin(int line) override;
    bool onNextField(int line, int field, const char* text, size_t length) override;
    bool onLineEnd(int line) override;

private:
    std::map<std::string, std::unique_ptr<ITokenizerCallback>> m_parsers;
    ITokenizerCallback* m_current = nullptr;
    ZelTableUpdateType m_kind = ZelTableUpdateType::Unknown;
    TablesUpdatesReader* m_reader;
};

// Only the offers of a pushed message, into an offers reader.
class OfferDasMessageProcessor : public ITokenizerCallback {
public:
    OfferDasMessageProcessor(OffersTableResponseReader* reader, const OfferRowFactory& factory);

    bool onLineBegin(int line) override;
    bool onNextField(int line, int field, const char* text, size_t length) override;
    bool onLineEnd(int line) override;

private:
    OffersParser m_parser;
    bool m_isOffer = false;
};

} // namespace zel
