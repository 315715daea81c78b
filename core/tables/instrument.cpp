#include "core/tables/instrument.h"

namespace zel {

void Instrument::completeFrom(const Instrument& stored)
{
    for (int field : kOmittableFields) {
        if (!isFieldMissing(field))
            continue;
        switch (field) {
        case 0: offerID = stored.offerID; break;
        case 4: buyInterest = stored.buyInterest; break;
        case 5: sellInterest = stored.sellInterest; break;
        case 9: symbol = stored.symbol; break;
        case 10: contractCurrency = stored.contractCurrency; break;
        case 12: precision = stored.precision; break;
        case 13: pointSize = stored.pointSize; break;
        case 15: sellAdj = stored.sellAdj; break;
        case 16: buyAdj = stored.buyAdj; break;
        case 18: subscriptionStatus = stored.subscriptionStatus; break;
        case 21: instrumentType = stored.instrumentType; break;
        case 23: priceStream = stored.priceStream; break;
        case 25: contractMultiplier = stored.contractMultiplier; break;
        case 26: permissions = stored.permissions; break;
        case 27: condDistStopForTrade = stored.condDistStopForTrade; break;
        case 28: condDistLimitForTrade = stored.condDistLimitForTrade; break;
        case 29: condDistEntryStop = stored.condDistEntryStop; break;
        case 30: condDistEntryLimit = stored.condDistEntryLimit; break;
        case 31: maxQuantity = stored.maxQuantity; break;
        case 32: minQuantity = stored.minQuantity; break;
        case 33: tradingStatus = stored.tradingStatus; break;
        case 36: baseUnitSize = stored.baseUnitSize; break;
        case 38: field38 = stored.field38; break;
        case 40: valueDate = stored.valueDate; break;
        default: break;
        }
    }
    missingFields[0] = missingFields[1] = missingFields[2] = 0;
}

} // namespace zel
