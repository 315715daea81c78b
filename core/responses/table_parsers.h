#pragma once
// The parsers of the DAS table answers: every line after the status line is one
// record, stored by the table's field map, and becomes a row of a reader, of a live
// table, or of both (each with a record of its own).
//
// Fill modes (the table-manager mode): 0 reader only, 1 live table only, 2 both.
// [Threading] A parser lives for one parse on one thread. The live table's add is
// the table's own locked operation.

#include <memory>
#include <string>

#include "core/responses/biz_utils.h"
#include "core/responses/result_set_tokenizer.h"
#include "core/responses/table_field_maps.h"
#include "core/responses/table_response_reader.h"
#include "core/tables/live_table.h"
#include "core/tables/offer_row_factory.h"
#include "core/tables/rows.h"

namespace zel {

// The table codes of the result sets.
const char* tableCode(ZelTable table);

// One record per line after the status line; what happens at the end of a line is
// the subclass's.
template <class Record>
class TRecordParser : public ITokenizerCallback {
public:
    explicit TRecordParser(const FieldMap<Record>& map) : m_map(map) {}
    using ITokenizerCallback::onLineBegin;
    using ITokenizerCallback::onLineEnd;

    bool onLineBegin(int line) override
    {
        // Default-initialized: every member has its initializer, so the zero fill of
        // a value-initialization would only be written over.
        if (line >= 1)
            m_record.reset(new Record);
        else
            m_record.reset();
        return true;
    }
    bool onNextField(int line, int field, const char* text) override
    {
        return onNextField(line, field, text, std::char_traits<char>::length(text));
    }
    bool onNextField(int line, int field, const char* text, size_t length) override
    {
        if (line >= 1 && m_record)
            storeField(*m_record, field, text, length);
        return true;
    }
    bool onLineEnd(int line) override
    {
        if (line < 1 || !m_record)
            return true;
        return finishLine(line, std::move(m_record));
    }

protected:
    virtual void storeField(Record& record, int field, const char* text, size_t length)
    {
        m_map.store(record, field, text, length);
    }
    virtual bool finishLine(int line, std::unique_ptr<Record> record) = 0;

    const FieldMap<Record>& m_map;
    std::unique_ptr<Record> m_record;
};

template <class Row, class Reader>
class TTableParser : public TRecordParser<typename Row::RecordType> {
public:
    using Record = typename Row::RecordType;

    TTableParser(const FieldMap<Record>& map, Reader* reader, ILiveTable<Row>* table, int mode)
        : TRecordParser<Record>(map), m_reader(reader), m_table(table), m_mode(mode)
    {
    }

    // A record built elsewhere (an XML element) finished as a line would be.
    void addRecord(std::unique_ptr<Record> record)
    {
        if (record)
            finishLine(1, std::move(record));
    }

protected:
    virtual RefPtr<Row> makeRow(std::unique_ptr<Record> record, bool readerRow)
    {
        return adoptRef(new Row(std::move(record), readerRow));
    }

    bool finishLine(int, std::unique_ptr<Record> record) override
    {
        const bool toReader = m_reader && (m_mode == 0 || m_mode == 2);
        const bool toTable = m_table && (m_mode == 1 || m_mode == 2);
        std::unique_ptr<Record> copy = toReader && toTable ? std::make_unique<Record>(*record) : nullptr;
        if (toReader) {
            RefPtr<Row> row = makeRow(std::move(record), true);
            if (!row)
                return true;  // an offer of an unknown instrument: nowhere
            m_reader->add(std::move(row));
        }
        if (toTable) {
            RefPtr<Row> row = makeRow(copy ? std::move(copy) : std::move(record), false);
            if (row) {
                prepareTableRow(*row);
                m_table->add(row.get());
            }
        }
        return true;
    }

    Reader* m_reader;
    ILiveTable<Row>* m_table;
    int m_mode;
};

class OffersParser : public TTableParser<OfferRow, OffersTableResponseReader> {
public:
    OffersParser(const OfferRowFactory& factory, OffersTableResponseReader* reader, ILiveTable<OfferRow>* table,
                 int mode)
        : TTableParser(offersFieldMap(), reader, table, mode), m_factory(factory)
    {
    }

protected:
    RefPtr<OfferRow> makeRow(std::unique_ptr<Offer> record, bool readerRow) override
    {
        return m_factory.create(std::move(record), readerRow);
    }

private:
    const OfferRowFactory& m_factory;
};

class AccountsParser : public TTableParser<AccountRow, AccountsTableResponseReader> {
public:
    AccountsParser(AccountsTableResponseReader* reader, ILiveTable<AccountRow>* table, int mode)
        : TTableParser(accountsFieldMap(), reader, table, mode)
    {
    }
};

class OrdersParser : public TTableParser<OrderRow, OrdersTableResponseReader> {
public:
    OrdersParser(OrdersTableResponseReader* reader, ILiveTable<OrderRow>* table, int mode)
        : TTableParser(ordersFieldMap(), reader, table, mode)
    {
    }
};

class TradesParser : public TTableParser<TradeRow, TradesTableResponseReader> {
public:
    TradesParser(TradesTableResponseReader* reader, ILiveTable<TradeRow>* table, int mode)
        : TTableParser(tradesFieldMap(), reader, table, mode)
    {
    }
};

class ClosedTradesParser : public TTableParser<ClosedTradeRow, ClosedTradesTableResponseReader> {
public:
    ClosedTradesParser(ClosedTradesTableResponseReader* reader, ILiveTable<ClosedTradeRow>* table, int mode)
        : TTableParser(closedTradesFieldMap(), reader, table, mode)
    {
    }
};

// "Text" exactly as received, "HTMLFragmentFlag" false.
class MessagesParser : public TTableParser<MessageRow, MessagesTableResponseReader> {
public:
    MessagesParser(MessagesTableResponseReader* reader, ILiveTable<MessageRow>* table, int mode)
        : TTableParser(messagesFieldMap(), reader, table, mode)
    {
    }
};

// "Text" decoded (base64, deflate, HTML fragment), the flag telling an HTML one.
template <class Base>
class TDecodingMessages : public Base {
public:
    using Base::Base;

protected:
    void storeField(MessageRecord& record, int field, const char* text, size_t length) override
    {
        if (field == 7) {
            bool html = false;
            record.Text = BizUtils::decodeMessageTextField(text, html);
            record.HTMLFragmentFlag = html;
            return;
        }
        Base::storeField(record, field, text, length);
    }
};
using MessagesParserWithDecoding = TDecodingMessages<MessagesParser>;

} // namespace zel
