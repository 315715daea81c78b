#pragma once
// Whether a trading command is allowed for this login: from the user kind, the
// permission flags in the server's system properties and the instrument's own
// permissions. Each can... takes an instrument symbol (null or empty: no
// instrument) and returns 1 allowed, 0 not allowed (also for an unknown symbol) or
// -2 disabled (the command does not exist for this user).
//
// Ownership: reference counted; IZelLoginRules::getPermissionChecker adds a
// reference for the caller.
// [Threading] Any thread. [Exceptions] Nothing throws.

#include "vorntool/add_ref.h"
#include "zel/zel_export.h"

// The user kinds a login reports.
enum ZelUserKind : int { UserKindTrader = 20, UserKindCustomer = 22, UserKindDealer = 24 };

// Results of the can... operations.
enum ZelPermissionStatus : int { PermissionAllowed = 1, PermissionNotAllowed = 0, PermissionDisabled = -2 };

class ZEL_API IZelPermissionChecker : public IAddRef {
public:
    virtual int canCreateMarketOpenOrder(const char* instrument) = 0;
    virtual int canChangeMarketOpenOrder(const char* instrument) = 0;
    virtual int canDeleteMarketOpenOrder(const char* instrument) = 0;
    virtual int canCreateMarketCloseOrder(const char* instrument) = 0;
    virtual int canChangeMarketCloseOrder(const char* instrument) = 0;
    virtual int canDeleteMarketCloseOrder(const char* instrument) = 0;
    virtual int canCreateEntryOrder(const char* instrument) = 0;
    virtual int canChangeEntryOrder(const char* instrument) = 0;
    virtual int canDeleteEntryOrder(const char* instrument) = 0;
    virtual int canCreateStopLimitOrder(const char* instrument) = 0;
    virtual int canChangeStopLimitOrder(const char* instrument) = 0;
    virtual int canDeleteStopLimitOrder(const char* instrument) = 0;
    virtual int canRequestQuote(const char* instrument) = 0;
    virtual int canAcceptQuote(const char* instrument) = 0;
    virtual int canDeleteQuote(const char* instrument) = 0;
    virtual int canCreateOCO(const char* instrument) = 0;
    virtual int canCreateOTO(const char* instrument) = 0;
    virtual int canJoinToNewContingencyGroup(const char* instrument) = 0;
    virtual int canJoinToExistingContingencyGroup(const char* instrument) = 0;
    virtual int canRemoveFromContingencyGroup(const char* instrument) = 0;
    virtual int canChangeOfferSubscription(const char* instrument) = 0;
    virtual int canCreateNetCloseOrder(const char* instrument) = 0;
    virtual int canChangeNetCloseOrder(const char* instrument) = 0;
    virtual int canDeleteNetCloseOrder(const char* instrument) = 0;
    virtual int canCreateNetStopLimitOrder(const char* instrument) = 0;
    virtual int canChangeNetStopLimitOrder(const char* instrument) = 0;
    virtual int canDeleteNetStopLimitOrder(const char* instrument) = 0;
    // Trailing kinds the server allows.
    virtual bool canUseDynamicTrailingForStop() = 0;
    virtual bool canUseDynamicTrailingForLimit() = 0;
    virtual bool canUseDynamicTrailingForEntryStop() = 0;
    virtual bool canUseDynamicTrailingForEntryLimit() = 0;
    virtual bool canUseFluctuateTrailingForStop() = 0;
    virtual bool canUseFluctuateTrailingForLimit() = 0;
    virtual bool canUseFluctuateTrailingForEntryStop() = 0;
    virtual bool canUseFluctuateTrailingForEntryLimit() = 0;

protected:
    IZelPermissionChecker() = default;
    ~IZelPermissionChecker() override = default;
};
