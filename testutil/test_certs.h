#pragma once
// Certificates for TLS tests, made once per process with the `openssl` command in a
// temporary directory (removed at exit). All files are PEM; keys are unencrypted.

#include <string>

namespace testutil {

struct TestCerts {
    std::string dir;
    std::string caFile;            // the trusted test CA
    std::string serverCert;        // for "localhost" and 127.0.0.1, signed by caFile
    std::string serverKey;
    std::string otherHostCert;     // for "dealer.invalid" only, signed by caFile
    std::string otherHostKey;
    std::string untrustedCaFile;   // a second CA nobody trusts
    std::string untrustedCert;     // for "localhost" and 127.0.0.1, signed by it
    std::string untrustedKey;
};

// Thread-safe; the first call makes the files and throws std::runtime_error (with the
// command's output) when openssl fails.
const TestCerts& testCerts();

} // namespace testutil
