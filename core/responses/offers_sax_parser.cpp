#include "core/responses/offers_sax_parser.h"

#include <strings.h>

#include <cstring>
#include <memory>

#include "core/messages/wire_values.h"

namespace zel {

void OffersSAXParser::startElement(const char* name, const char** attrs)
{
    if (::strcasecmp(name, "Pair") != 0)
        return;
    auto offer = std::make_unique<Offer>();
    for (size_t i = 0; attrs && attrs[i] && attrs[i + 1]; i += 2) {
        const char* key = attrs[i];
        const char* value = attrs[i + 1];
        if (!std::strcmp(key, "QORASymId"))
            offer->OfferID = value;
        else if (!std::strcmp(key, "QuoteID"))
            offer->QuoteID = value;
        else if (!std::strcmp(key, "LowValue"))
            offer->Low = parseWireDouble(value);
        else if (!std::strcmp(key, "HighValue"))
            offer->High = parseWireDouble(value);
        else if (!std::strcmp(key, "BidPx"))
            offer->rawBid = parseWireDouble(value);
        else if (!std::strcmp(key, "AskPx"))
            offer->rawAsk = parseWireDouble(value);
    }
    m_parser.addRecord(std::move(offer));
}

} // namespace zel
