#pragma once
// Password hashes: "pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>" (PBKDF2-HMAC-
// SHA256, 32-byte hash), or "plain:<password>" which test worlds may use and which the
// caller warns about at start. Thread-safe; verification takes constant time in the
// password's content.

#include <string>

#include "status.h"

namespace pellora::dealer {

constexpr int kDefaultPasswordIterations = 100000;

// A new hash with a random 16-byte salt.
Status hashPassword(const std::string& password, int iterations, std::string& out);
// The hash of a given salt (hex), for reproducible worlds and tests.
Status hashPasswordWithSalt(const std::string& password, const std::string& saltHex, int iterations,
                            std::string& out);

bool passwordHashWellFormed(const std::string& stored);
bool isPlainPassword(const std::string& stored);

// False for a wrong password and for a malformed stored text.
bool verifyPassword(const std::string& password, const std::string& stored);

} // namespace pellora::dealer
