#pragma once
// The offers of an RTMP answer: one <Pair QORASymId=".." QuoteID=".." BidPx=".."
// AskPx=".." LowValue=".." HighValue=".."/> element per offer, finished as the DAS
// offers parser finishes a line (instrument columns, adjusted prices, the fill
// mode's reader and live table).
//
// [Threading] One document on the caller's thread.

#include "core/responses/table_parsers.h"
#include "vornexpat/xml_parser.h"

namespace zel {

class OffersSAXParser : public IXmlParserHandler {
public:
    OffersSAXParser(const OfferRowFactory& factory, OffersTableResponseReader* reader, ILiveTable<OfferRow>* table,
                    int mode)
        : m_parser(factory, reader, table, mode)
    {
    }
    void startElement(const char* name, const char** attrs) override;

private:
    OffersParser m_parser;
};

} // namespace zel
