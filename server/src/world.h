#pragma once
// The world a dealer serves: station, connections, users, accounts, instruments,
// margins, system properties, price terminals and an optional starting state. Built
// once (demo world or JSON file) and then only read, from any thread.

#include <array>
#include <string>
#include <vector>

#include "records.h"
#include "status.h"

namespace pellora::dealer {

enum class Protocol { Das, Rtmp };

const char* protocolName(Protocol p);  // "DAS" or "RTMP", the "TransportProvider" value

enum UserKind { UserKindTrader = 20, UserKindCustomer = 22, UserKindDealer = 24 };

struct Station {
    std::string version;  // the station descriptor's "version" parameter
};

struct TradingSession {
    std::string id;
    std::string subId;
    std::string name;
    std::string description;
    std::string pin;  // empty: no PIN asked
};

struct Connection {
    std::string name;
    Protocol protocol = Protocol::Das;
    std::vector<TradingSession> sessions;
    bool initialMessages = true;  // the login carries the answers of the initial commands
    std::string priceTerminal;    // empty: prices on the trade session
};

struct User {
    std::string name;
    std::string passwordHash;  // "pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>" or "plain:<password>"
    int kind = UserKindTrader;
    int traderId = 0;
    std::vector<std::string> accounts;  // account IDs
};

struct Account {
    std::string id;
    std::string name;
    std::string kind = "32";
    std::string currency;
    double balance = 0;
    std::string leverageProfile;
    std::string maintenanceType = "Y";
    int amountLimit = 0;
    int baseUnitSize = 1000;
};

struct ConditionDistances {
    double stopForTrade = 0;
    double limitForTrade = 0;
    double entryStop = 0;
    double entryLimit = 0;
};

struct Instrument {
    std::string offerId;
    std::string symbol;
    std::string contractCurrency;
    int digits = 5;
    double pointSize = 0.0001;  // one pip
    int instrumentType = 1;     // 1 FX, 2 CFD, ...
    int baseUnitSize = 1000;
    int contractMultiplier = 1;
    ConditionDistances conditionDistances;
    int minQuantity = 0;
    int maxQuantity = 0;
    std::string tradingStatus = "O";  // empty or "C...": closed
    std::string permissions;          // "code,Y|N,code,Y|N..."
    std::string priceStream = "Default";
    std::string valueDate;
    std::string subscriptionStatus = "T";
    double buyInterest = 0;
    double sellInterest = 0;
    double startBid = 0;
    double startAsk = 0;
    double spread = 0;      // kept between bid and ask, in pips (point sizes)
    double volatility = 0;  // standard deviation of the mid's move over one minute, in pips

    // The smallest price step: 10^-digits.
    double priceUnit() const;
};

// Margin values per (leverage profile, offer), in the order the account-properties
// answer carries them; value 2 is the maintenance margin that three-level mode uses.
struct Margin {
    std::string leverageProfile;
    std::string offerId;
    std::array<double, 3> values{};
};

struct SystemProperty {
    std::string name;
    std::string value;
};

struct PriceTerminal {
    std::string name;
    Protocol protocol = Protocol::Das;
    std::vector<std::string> offerIds;
};

// Rows an account starts with (test worlds); account names and kinds are filled in
// from the account.
struct StartingState {
    std::vector<TradeRecord> trades;
    std::vector<OrderRecord> orders;
    std::vector<ClosedTradeRecord> closedTrades;
    std::vector<MessageRecord> messages;
};

struct World {
    Station station;
    std::vector<Connection> connections;
    std::vector<User> users;
    std::vector<Account> accounts;
    std::vector<Instrument> instruments;
    std::vector<Margin> margins;
    std::vector<SystemProperty> systemProperties;
    std::vector<PriceTerminal> priceTerminals;
    StartingState startingState;

    // Lookups return null when nothing matches; pointers live as long as the world.
    const Connection* findConnection(const std::string& name) const;
    const User* findUser(const std::string& name) const;
    const Account* findAccount(const std::string& id) const;
    const Instrument* findInstrument(const std::string& offerId) const;
    const Instrument* findInstrumentBySymbol(const std::string& symbol) const;
    const Margin* findMargin(const std::string& leverageProfile, const std::string& offerId) const;
    const PriceTerminal* findPriceTerminal(const std::string& name) const;
    // The user holding the account, or null.
    const User* ownerOf(const std::string& accountId) const;

    // Checks the references and invariants the loader and the demo world both promise:
    // unique IDs, users' accounts exist, margins and terminals name known offers and
    // profiles, sane instrument numbers. The text names the field path.
    Status validate() const;
};

// The initial account rows of the world (balance, profile, limits from the accounts).
AccountRecord initialAccountRecord(const Account& a);

} // namespace pellora::dealer
