// Arbitrary bytes as the XML answers of the RTMP protocol: instruments, offers and
// system properties. Nothing may crash, throw or grow without bound; what was read
// before an error stays read.
#include <cstddef>
#include <cstdint>

#include "core/responses/instruments_parsers.h"
#include "core/responses/offers_sax_parser.h"
#include "core/responses/properties_response_processor.h"
#include "core/tables/epoch.h"
#include "vornexpat/xml_parser.h"

namespace {
volatile size_t g_sink;
}

namespace {

void run(const uint8_t* data, size_t size)
{
    using namespace zel;
    const char* text = reinterpret_cast<const char*>(data);

    RefPtr<InstrumentsTable> instruments = adoptRef(new InstrumentsTable());
    InstrumentsSAXParser instrumentsHandler(instruments.get());
    (void)XmlParser::Parse(text, size, &instrumentsHandler);

    OfferRowFactory factory(instruments.get());
    RefPtr<OffersTableResponseReader> offers = adoptRef(new OffersTableResponseReader());
    OffersSAXParser offersHandler(factory, offers.get(), nullptr, 0);
    (void)XmlParser::Parse(text, size, &offersHandler);
    for (int i = 0; i < offers->size(); ++i)
        g_sink += std::char_traits<char>::length(offers->at(i)->getInstrument());

    PropertiesResponseReader properties;
    CommandSAXParser propertiesHandler(&properties);
    (void)XmlParser::Parse(text, size, &propertiesHandler);
    for (int i = 0; i < properties.size(); ++i) {
        const char* name = nullptr;
        g_sink += std::char_traits<char>::length(properties.get(i, name)) + std::char_traits<char>::length(name);
    }
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

