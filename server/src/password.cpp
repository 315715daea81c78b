#include "password.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <cstdlib>
#include <vector>

namespace pellora::dealer {

namespace {

constexpr const char* kPrefix = "pbkdf2-sha256$";
constexpr const char* kPlain = "plain:";
constexpr size_t kHashBytes = 32;
constexpr int kMaxIterations = 10000000;

std::string toHex(const unsigned char* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

bool fromHex(const std::string& s, std::vector<unsigned char>& out) {
    if (s.size() % 2) return false;
    out.clear();
    for (size_t i = 0; i < s.size(); i += 2) {
        int v = 0;
        for (size_t k = i; k < i + 2; ++k) {
            const char c = s[k];
            const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (d < 0) return false;
            v = v * 16 + d;
        }
        out.push_back(static_cast<unsigned char>(v));
    }
    return true;
}

struct Parsed {
    int iterations = 0;
    std::vector<unsigned char> salt;
    std::vector<unsigned char> hash;
};

bool parse(const std::string& stored, Parsed& p) {
    if (stored.rfind(kPrefix, 0) != 0) return false;
    const std::string rest = stored.substr(std::char_traits<char>::length(kPrefix));
    const size_t a = rest.find('$');
    if (a == std::string::npos || a == 0 || a > 8) return false;
    const size_t b = rest.find('$', a + 1);
    if (b == std::string::npos) return false;
    for (size_t i = 0; i < a; ++i)
        if (rest[i] < '0' || rest[i] > '9') return false;
    p.iterations = std::atoi(rest.substr(0, a).c_str());
    if (p.iterations < 1 || p.iterations > kMaxIterations) return false;
    if (!fromHex(rest.substr(a + 1, b - a - 1), p.salt) || p.salt.size() < 8 || p.salt.size() > 64) return false;
    return fromHex(rest.substr(b + 1), p.hash) && p.hash.size() == kHashBytes;
}

bool derive(const std::string& password, const std::vector<unsigned char>& salt, int iterations,
            unsigned char (&out)[kHashBytes]) {
    return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                             static_cast<int>(salt.size()), iterations, EVP_sha256(), kHashBytes, out) == 1;
}

} // namespace

Status hashPasswordWithSalt(const std::string& password, const std::string& saltHex, int iterations,
                            std::string& out) {
    std::vector<unsigned char> salt;
    if (!fromHex(saltHex, salt) || salt.size() < 8 || salt.size() > 64)
        return Status::error("the salt must be 8 to 64 bytes in lower-case hex");
    if (iterations < 1 || iterations > kMaxIterations)
        return Status::error("the iteration count must be between 1 and 10000000");
    unsigned char hash[kHashBytes];
    if (!derive(password, salt, iterations, hash)) return Status::error("PBKDF2 failed");
    out = std::string(kPrefix) + std::to_string(iterations) + "$" + saltHex + "$" + toHex(hash, kHashBytes);
    return Status::ok();
}

Status hashPassword(const std::string& password, int iterations, std::string& out) {
    unsigned char salt[16];
    if (RAND_bytes(salt, sizeof salt) != 1) return Status::error("no random bytes for the salt");
    return hashPasswordWithSalt(password, toHex(salt, sizeof salt), iterations, out);
}

bool passwordHashWellFormed(const std::string& stored) {
    Parsed p;
    return isPlainPassword(stored) || parse(stored, p);
}

bool isPlainPassword(const std::string& stored) { return stored.rfind(kPlain, 0) == 0; }

bool verifyPassword(const std::string& password, const std::string& stored) {
    if (isPlainPassword(stored)) {
        // Compare digests so that neither length nor content leaks through timing.
        unsigned char a[SHA256_DIGEST_LENGTH], b[SHA256_DIGEST_LENGTH];
        const std::string expected = stored.substr(std::char_traits<char>::length(kPlain));
        SHA256(reinterpret_cast<const unsigned char*>(password.data()), password.size(), a);
        SHA256(reinterpret_cast<const unsigned char*>(expected.data()), expected.size(), b);
        return CRYPTO_memcmp(a, b, sizeof a) == 0;
    }
    Parsed p;
    if (!parse(stored, p)) return false;
    unsigned char hash[kHashBytes];
    if (!derive(password, p.salt, p.iterations, hash)) return false;
    return CRYPTO_memcmp(hash, p.hash.data(), kHashBytes) == 0;
}

} // namespace pellora::dealer
