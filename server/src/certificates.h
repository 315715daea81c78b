#pragma once
// The dealer's TLS identity in its data folder: a local certificate authority
// (ca.pem, which clients trust) and a server certificate for "localhost" and
// 127.0.0.1 signed by it (server.pem, with its key in server.key, mode 0600). Made on
// first start and reused afterwards; the CA's own key is not kept, so nothing else
// can be signed with it. Not thread-safe across processes sharing a folder.

#include <string>

#include "status.h"

namespace pellora::dealer {

struct CertificateFiles {
    std::string caFile;
    std::string certFile;
    std::string keyFile;
};

// Reuses the three files when all exist and fit together (the certificate was signed
// by the CA and matches the key); creates all three when none exists. Any other
// mixture, or unreadable files, fails naming the file, and nothing is overwritten.
Status ensureCertificates(const std::string& dataDir, CertificateFiles& out, bool* created = nullptr);

} // namespace pellora::dealer
