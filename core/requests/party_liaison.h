#pragma once
// The parties text that every DAS command carries: who sent it and through which
// application, "[PELLORA,C,13,<origination>,4]", optionally followed by the
// parties of the caller.

#include <string>

namespace zel {

// True for one or more groups written back to back, each "[", at least three
// non-empty fields separated by "," (no "[", "]" or "," inside a field) and "]".
// Null and "" are not valid.
bool isValidPartiesText(const char* text);

// [Threading] One object per message being built; not shared.
class PartyLiaison {
public:
    // The party identifier naming the service operator.
    static constexpr const char* PARTY_ID = "PELLORA";

    PartyLiaison() = default;

    // Copied; null is taken as "".
    void setOrigination(const char* origination);
    void resetOrigination() { m_origination.clear(); }
    const std::string& getOrigination() const { return m_origination; }

    // The parties text of the current origination, then the extra parties when they
    // form a valid parties text (anything else is dropped). Empties the origination.
    std::string makeParties(const char* extraParties = nullptr);

private:
    std::string m_origination;
};

} // namespace zel
