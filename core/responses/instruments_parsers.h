#pragma once
// The instruments as the server sends them: the DAS instruments answer (one line
// per instrument), the instrument lines of pushed messages that keep the table
// current, and the RTMP XML form (<Pair QORASymId=".." Symbol=".." .../>).
//
// [Threading] One parse on the caller's thread; the table serializes its own adds.

#include <memory>
#include <string>

#include "core/responses/table_parsers.h"
#include "core/tables/instruments_table.h"
#include "vornexpat/xml_parser.h"

namespace zel {

// Every line after the status line is an instrument for the table.
class InstrumentsParser : public TRecordParser<Instrument> {
public:
    explicit InstrumentsParser(InstrumentsTable* table)
        : TRecordParser<Instrument>(instrumentsFieldMap()), m_table(table)
    {
    }

protected:
    bool finishLine(int, std::unique_ptr<Instrument> record) override
    {
        if (m_table)
            m_table->add(std::move(record));
        return true;
    }

private:
    InstrumentsTable* m_table;
};

// The "INSTRMT;kind;fields..." lines of a pushed message, before anyone reads it.
// Fields holding the "nothing" marker are left out (the stored value stays). An
// update ("U") is taken only for an instrument already known from the same price
// stream; an insert or anything else is added as it is.
class UpdateInstrumentsParserSpecial : public ITokenizerCallback {
public:
    UpdateInstrumentsParserSpecial(InstrumentsTable* table, const char* nothing);

    bool onLineBegin(int line) override;
    bool onNextField(int line, int field, const char* text, size_t length) override;
    bool onLineEnd(int line) override;

private:
    InstrumentsTable* m_table;
    std::string m_nothing;
    std::unique_ptr<Instrument> m_record;
    int m_kind = -1;
};

class InstrumentsSAXParser : public IXmlParserHandler {
public:
    explicit InstrumentsSAXParser(InstrumentsTable* table) : m_table(table) {}
    void startElement(const char* name, const char** attrs) override;

private:
    InstrumentsTable* m_table;
};

} // namespace zel
