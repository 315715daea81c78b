// Arbitrary bytes as a pushed DAS message and as the answer to every table request:
// the processors and parsers must never crash, throw or read past the text, and
// every row they make must read back whole, cell by cell.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/responses/command_response_reader.h"
#include "core/responses/das_message_processor.h"
#include "core/responses/instruments_parsers.h"
#include "core/responses/properties_response_processor.h"
#include "core/responses/table_parsers.h"
#include "core/tables/epoch.h"
#include "core/tables/tables_manager.h"

namespace {

using namespace zel;

template <class Row>
class Kept : public ILiveTable<Row> {
public:
    // Lives on the stack for one input, and nothing else holds it.
    long addRef() override { return 1; }
    long release() override { return 1; }
    void add(Row* row) override { rows.emplace_back(row); }
    std::vector<RefPtr<Row>> rows;
};

volatile size_t g_sink;

void touch(IZelRow* row)
{
    RefPtr<IZelTableColumnCollection> columns = adoptRef(row->columns());
    for (int c = 0; c < columns->size() + 1; ++c) {
        const void* cell = row->getCell(c);
        RefPtr<IZelTableColumn> column = adoptRef(columns->get(c));
        if (cell && column && column->getType() == IZelTableColumn::String)
            g_sink += std::char_traits<char>::length(static_cast<const char*>(cell));
        g_sink += row->isCellChanged(c);
    }
}

template <class Reader>
void touchReader(Reader& reader)
{
    for (int i = 0; i < reader.size(); ++i) {
        RefPtr<IZelRow> row(reader.at(i));
        touch(row.get());
    }
}

TablesManager* manager()
{
    static TablesManager* m = [] {
        auto* t = new TablesManager();
        for (const char* id : {"1", "2", "3"}) {
            auto i = std::make_unique<Instrument>();
            i->offerID = id;
            i->symbol = std::string("SYM") + id;
            i->priceStream = "PS";
            t->instruments()->add(std::move(i));
        }
        return t;
    }();
    return m;
}

} // namespace

namespace {

void run(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    InstrumentsTable* instruments = manager()->instruments();
    OfferRowFactory factory(instruments);

    RefPtr<TablesUpdatesReader> updates = adoptRef(new TablesUpdatesReader());
    {
        DasMessageProcessor processor(updates.get(), factory, instruments, nullptr);
        CResultSetTokenizer(text.c_str()).tokenize(&processor);
    }
    for (int i = 0; i <= updates->size(); ++i) {
        g_sink += static_cast<size_t>(updates->getUpdateType(i)) + static_cast<size_t>(updates->getUpdateTable(i));
        if (IZelRow* row = updates->rowAt(i))
            touch(row);
    }

    RefPtr<OrdersTableResponseReader> orders = adoptRef(new OrdersTableResponseReader());
    Kept<OrderRow> liveOrders;
    OrdersParser ordersParser(orders.get(), &liveOrders, 2);
    CResultSetTokenizer(text.c_str()).tokenize(&ordersParser);
    touchReader(*orders);

    RefPtr<OffersTableResponseReader> offers = adoptRef(new OffersTableResponseReader());
    OffersParser offersParser(factory, offers.get(), nullptr, 0);
    CResultSetTokenizer(text.c_str()).tokenize(&offersParser);
    touchReader(*offers);

    RefPtr<AccountsTableResponseReader> accounts = adoptRef(new AccountsTableResponseReader());
    AccountsParser accountsParser(accounts.get(), nullptr, 0);
    CResultSetTokenizer(text.c_str()).tokenize(&accountsParser);
    RefPtr<TradesTableResponseReader> trades = adoptRef(new TradesTableResponseReader());
    TradesParser tradesParser(trades.get(), nullptr, 0);
    CResultSetTokenizer(text.c_str()).tokenize(&tradesParser);
    RefPtr<ClosedTradesTableResponseReader> closed = adoptRef(new ClosedTradesTableResponseReader());
    ClosedTradesParser closedParser(closed.get(), nullptr, 0);
    CResultSetTokenizer(text.c_str()).tokenize(&closedParser);
    RefPtr<MessagesTableResponseReader> messages = adoptRef(new MessagesTableResponseReader());
    MessagesParserWithDecoding messagesParser(messages.get(), nullptr, 0);
    CResultSetTokenizer(text.c_str()).tokenize(&messagesParser);
    touchReader(*messages);

    RefPtr<OrderResponseReader> order = adoptRef(new OrderResponseReader());
    OrderResponseProcessor orderProcessor(order.get());
    CResultSetTokenizer(text.c_str()).tokenize(&orderProcessor);
    RefPtr<LastOrderUpdateResponseReader> last = adoptRef(new LastOrderUpdateResponseReader());
    LastOrderUpdatesParser lastParser(last.get());
    CResultSetTokenizer(text.c_str()).tokenize(&lastParser);

    g_sink += PropertiesResponseProcessor(';', '\n').parse(text.c_str())->size();

    // Instrument lines change a table of their own, never the shared one.
    RefPtr<InstrumentsTable> scratch = adoptRef(new InstrumentsTable());
    UpdateInstrumentsParserSpecial special(scratch.get(), nullptr);
    CResultSetTokenizer(text.c_str()).tokenize(&special);
    InstrumentsParser plain(scratch.get());
    CResultSetTokenizer(text.c_str()).tokenize(&plain);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    run(data, size);
    // Rows and keys the tables let go are freed once no reader can hold them; free
    // them now, inside this input, so the fuzzer's leak check sees every allocation
    // of the input matched (it scans the whole heap for each input that looks leaky).
    rl::epoch::synchronize();
    return 0;
}

