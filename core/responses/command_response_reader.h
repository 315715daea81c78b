#pragma once
// The command and order-creation answers and the result-set processors that read
// them. Line 0: the result code (0: success) and an error text; an order creation
// adds line 1: the order identifier and the dealer-intervention flag ("Y").
//
// Ownership: readers start with one reference for the creator.
// [Threading] Filled on one thread before they are handed out; read-only after.

#include <string>

#include "core/base/ref_ptr.h"
#include "core/responses/result_set_tokenizer.h"
#include "core/responses/table_parsers.h"
#include "vorntool/add_ref.h"
#include "zel/command_response_reader.h"

namespace zel {

class CommandResponseReader : public TThreadSafeAddRefImpl<IZelCommandResponseReader> {
public:
    CommandResponseReader() = default;
    bool isSuccessful() override { return m_successful; }
    const char* getErrorDescription() override { return m_error.c_str(); }

    void setSuccessful(bool ok) { m_successful = ok; }
    // Null stores "".
    void setErrorDescription(const char* text) { m_error = text ? text : ""; }

protected:
    ~CommandResponseReader() override = default;

private:
    std::string m_error;
    bool m_successful = false;
};

class OrderResponseReader : public TThreadSafeAddRefImpl<IZelOrderResponseReader> {
public:
    OrderResponseReader() = default;
    bool isSuccessful() override { return m_successful; }
    const char* getOrderID() override { return m_orderID.c_str(); }
    const char* getErrorDescription() override { return m_error.c_str(); }
    bool isUnderDealerIntervention() const { return m_dealerIntervention; }

    void setSuccessful(bool ok) { m_successful = ok; }
    void setErrorDescription(const char* text) { m_error = text ? text : ""; }
    void setOrderID(const char* id) { m_orderID = id ? id : ""; }
    void setUnderDealerIntervention(bool on) { m_dealerIntervention = on; }

protected:
    ~OrderResponseReader() override = default;

private:
    std::string m_orderID;
    std::string m_error;
    bool m_dealerIntervention = false;
    bool m_successful = false;
};

// Line 0 of a command answer: the code, and the error text of a failure.
class ACommandResponseProcessor : public ITokenizerCallback {
public:
    bool onTokenizeBegin() override;
    bool onNextField(int line, int field, const char* text) override;

protected:
    // True once line 0 gave the code 0. A code that is not 0 is a failure even
    // without an error text.
    bool succeeded() const { return m_code == 0; }
    const std::string& errorText() const { return m_error; }
    // A failure with the server's text: the parse stops here.
    virtual void onFailure(const std::string& text) = 0;

private:
    std::string m_error;
    long m_code = -1;
};

class CommandResponseProcessor : public ACommandResponseProcessor {
public:
    explicit CommandResponseProcessor(CommandResponseReader* reader) : m_reader(reader) {}
    bool onLineEnd(int line) override;

protected:
    void onFailure(const std::string& text) override;

private:
    CommandResponseReader* m_reader;
};

class OrderResponseProcessor : public ACommandResponseProcessor {
public:
    explicit OrderResponseProcessor(OrderResponseReader* reader) : m_reader(reader) {}
    bool onNextField(int line, int field, const char* text) override;
    bool onLineEnd(int line) override;

protected:
    void onFailure(const std::string& text) override;

private:
    OrderResponseReader* m_reader;
};

// The last update of one order: its kind and the order as it stands.
class LastOrderUpdateResponseReader : public TThreadSafeAddRefImpl<IZelLastOrderUpdateResponseReader> {
public:
    LastOrderUpdateResponseReader() = default;
    ZelTableUpdateType getUpdateType() override { return m_type; }
    IZelOrderRow* getOrder() override { return m_order.share(); }

    void setUpdateType(ZelTableUpdateType type) { m_type = type; }
    // Replaces the row held before.
    void add(OrderRow* row) { m_order = RefPtr<OrderRow>(row); }

protected:
    ~LastOrderUpdateResponseReader() override = default;

private:
    RefPtr<OrderRow> m_order;
    ZelTableUpdateType m_type = ZelTableUpdateType::Unknown;
};

// Lines after the status line: an ignored field, the kind ("I", "U", "D", any
// case), then an orders line; the reader keeps the last.
class LastOrderUpdatesParser : public TRecordParser<Order> {
public:
    explicit LastOrderUpdatesParser(LastOrderUpdateResponseReader* reader)
        : TRecordParser<Order>(ordersFieldMap()), m_reader(reader)
    {
    }

protected:
    void storeField(Order& record, int field, const char* text, size_t length) override;
    bool finishLine(int line, std::unique_ptr<Order> record) override;

private:
    LastOrderUpdateResponseReader* m_reader;
};

} // namespace zel
