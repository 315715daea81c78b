#pragma once
// The command and order-creation answers and the result-set processors that read
// them. Line 0: the result code (0: success) and an error text; an order creation
// adds line 1: the order identifier and the dealer-intervention flag ("Y").
//
// Ownership: readers start with one reference for the creator.
// [Threading] Filled on one thread before they are handed out; read-only after.

#include <string>

#include "core/responses/result_set_tokenizer.h"
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

} // namespace zel
