#pragma once
// Reading a world from a JSON file. Every object is checked strictly: a missing
// required field, an unknown field, a wrong type, a duplicate ID or a dangling
// reference fails with "<file>: <field path>: <reason>". Field names are those of
// world.h in camelCase (the password hash is "password"); kSmallWorld in
// world_json_test.cpp shows every section. Optional: connection "priceTerminal" and
// session "name", "description", "pin"; instrument "subscriptionStatus",
// "buyInterest", "sellInterest"; "priceTerminals" and "startingState".

#include <string>
#include <vector>

#include "world.h"

namespace pellora::dealer {

Status loadWorldFile(const std::string& path, World& out);
// `fileName` only labels the messages.
Status parseWorld(const std::string& text, const std::string& fileName, World& out);

// Names of the users whose password is given as "plain:..." (the caller warns).
std::vector<std::string> plainPasswordUsers(const World& w);

} // namespace pellora::dealer
