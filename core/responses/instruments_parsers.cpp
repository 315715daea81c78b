#include "core/responses/instruments_parsers.h"

#include <strings.h>

#include <cstring>

#include "core/messages/wire_values.h"

namespace zel {

UpdateInstrumentsParserSpecial::UpdateInstrumentsParserSpecial(InstrumentsTable* table, const char* nothing)
    : m_table(table), m_nothing(nothing ? nothing : "!=")
{
}

bool UpdateInstrumentsParserSpecial::onLineBegin(int)
{
    m_kind = -1;
    m_record.reset();
    return true;
}

bool UpdateInstrumentsParserSpecial::onNextField(int, int field, const char* text, size_t length)
{
    // Any line may be an instrument line: the text given often starts at one.
    if (field == 0) {
        if (length == 7 && std::memcmp(text, "INSTRMT", 7) == 0)
            m_record = std::make_unique<Instrument>();
        return true;
    }
    if (!m_record)
        return true;
    if (field == 1) {
        m_kind = text[0] == 'I' ? 0 : text[0] == 'U' ? 1 : text[0] == 'D' ? 2 : -1;
        return true;
    }
    // Left out, the bit marks it, so the table keeps what it stores.
    if (m_nothing.size() == length && std::memcmp(text, m_nothing.data(), length) == 0) {
        m_record->setFieldMissing(field - 2);
        return true;
    }
    instrumentsFieldMap().store(*m_record, field - 2, text, length);
    return true;
}

bool UpdateInstrumentsParserSpecial::onLineEnd(int)
{
    std::unique_ptr<Instrument> record = std::move(m_record);
    if (!record || !m_table || record->isFieldMissing(0))
        return true;
    if (m_kind == 1) {
        const std::shared_ptr<const Instrument> known = m_table->find(record->offerID.c_str());
        if (!known)
            return true;
        // The price stream is compared only when the line carried it.
        if (!record->isFieldMissing(23) && known->priceStream != record->priceStream)
            return true;
    }
    m_table->add(std::move(record));
    return true;
}

void InstrumentsSAXParser::startElement(const char* name, const char** attrs)
{
    if (!m_table || ::strcasecmp(name, "Pair") != 0)
        return;
    auto record = std::make_unique<Instrument>();
    for (size_t i = 0; attrs && attrs[i] && attrs[i + 1]; i += 2) {
        const char* key = attrs[i];
        const char* value = attrs[i + 1];
        if (!std::strcmp(key, "QORASymId"))
            record->offerID = value;
        else if (!std::strcmp(key, "Symbol"))
            record->symbol = value;
        else if (!std::strcmp(key, "ContractCurrency"))
            record->contractCurrency = value;
        else if (!std::strcmp(key, "Precision"))
            record->precision = parseWireInt(value);
        else if (!std::strcmp(key, "PointSize"))
            record->pointSize = parseWireDouble(value);
        else if (!std::strcmp(key, "SellAdj"))
            record->sellAdj = parseWireDouble(value);
        else if (!std::strcmp(key, "BuyAdj"))
            record->buyAdj = parseWireDouble(value);
        else if (!std::strcmp(key, "InstrumentType"))
            record->instrumentType = parseWireInt(value);
    }
    m_table->add(std::move(record));
}

} // namespace zel
