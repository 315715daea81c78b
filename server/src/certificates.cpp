#include "certificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <memory>

namespace pellora::dealer {

namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Store = std::unique_ptr<X509_STORE, Deleter<X509_STORE, X509_STORE_free>>;
using StoreCtx = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX, X509_STORE_CTX_free>>;

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

struct File {
    explicit File(const std::string& path, const char* mode) : f(std::fopen(path.c_str(), mode)) {}
    ~File() {
        if (f) std::fclose(f);
    }
    FILE* f;
};

Cert readCert(const std::string& path) {
    File file(path, "rb");
    return Cert(file.f ? PEM_read_X509(file.f, nullptr, nullptr, nullptr) : nullptr);
}

Key readKey(const std::string& path) {
    File file(path, "rb");
    return Key(file.f ? PEM_read_PrivateKey(file.f, nullptr, nullptr, nullptr) : nullptr);
}

bool addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext) return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

Cert makeCert(EVP_PKEY* subjectKey, const char* commonName, X509* issuer, EVP_PKEY* issuerKey, long days, bool ca) {
    Cert cert(X509_new());
    if (!cert) return nullptr;
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1) return nullptr;
    serial[0] &= 0x7f;  // a positive serial number
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    const bool serialOk = bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    X509_NAME* name = X509_get_subject_name(cert.get());
    const bool ok = serialOk && X509_set_version(cert.get(), 2) == 1 &&
                    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) &&
                    X509_gmtime_adj(X509_getm_notAfter(cert.get()), days * 86400L) &&
                    X509_set_pubkey(cert.get(), subjectKey) == 1 &&
                    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                               reinterpret_cast<const unsigned char*>("Pellora dealer"), -1, -1, 0) == 1 &&
                    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0) == 1 &&
                    X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name) == 1;
    if (!ok) return nullptr;
    X509* signer = issuer ? issuer : cert.get();
    const bool ext =
        ca ? addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE,pathlen:0") &&
                 addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign") &&
                 addExtension(cert.get(), signer, NID_subject_key_identifier, "hash")
           : addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE") &&
                 addExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature,keyEncipherment") &&
                 addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth") &&
                 addExtension(cert.get(), signer, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1") &&
                 addExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
    if (!ext || X509_sign(cert.get(), issuerKey, EVP_sha256()) == 0) return nullptr;
    return cert;
}

// Writes to a temporary name and renames, so a crash never leaves half a file.
Status writePem(const std::string& path, bool privateKey, X509* cert, EVP_PKEY* key) {
    const std::string tmp = path + ".tmp";
    {
        const mode_t old = ::umask(privateKey ? 077 : 022);
        File file(tmp, "wb");
        ::umask(old);
        if (!file.f) return Status::error(tmp + ": cannot be written");
        const bool ok = privateKey ? PEM_write_PrivateKey(file.f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1
                                   : PEM_write_X509(file.f, cert) == 1;
        if (!ok || std::fflush(file.f) != 0) return Status::error(tmp + ": cannot be written");
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) return Status::error(path + ": cannot be written");
    return Status::ok();
}

Status check(const CertificateFiles& f) {
    Cert ca = readCert(f.caFile);
    if (!ca) return Status::error(f.caFile + ": not a readable PEM certificate");
    Cert cert = readCert(f.certFile);
    if (!cert) return Status::error(f.certFile + ": not a readable PEM certificate");
    Key key = readKey(f.keyFile);
    if (!key) return Status::error(f.keyFile + ": not a readable PEM private key");
    if (X509_check_private_key(cert.get(), key.get()) != 1)
        return Status::error(f.keyFile + ": does not belong to " + f.certFile);
    Store store(X509_STORE_new());
    StoreCtx ctx(X509_STORE_CTX_new());
    if (!store || !ctx || X509_STORE_add_cert(store.get(), ca.get()) != 1 ||
        X509_STORE_CTX_init(ctx.get(), store.get(), cert.get(), nullptr) != 1)
        return Status::error(f.certFile + ": cannot be checked");
    if (X509_verify_cert(ctx.get()) != 1)
        return Status::error(f.certFile + ": not valid under " + f.caFile + " (" +
                             X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get())) + ")");
    return Status::ok();
}

} // namespace

Status ensureCertificates(const std::string& dataDir, CertificateFiles& out, bool* created) {
    std::error_code ec;
    std::filesystem::create_directories(dataDir, ec);
    if (ec) return Status::error(dataDir + ": cannot be created (" + ec.message() + ")");
    CertificateFiles f{dataDir + "/ca.pem", dataDir + "/server.pem", dataDir + "/server.key"};
    const int present = exists(f.caFile) + exists(f.certFile) + exists(f.keyFile);
    if (created) *created = false;
    if (present == 3) {
        if (Status s = check(f); !s.isOk()) return s;
        out = f;
        return Status::ok();
    }
    if (present != 0)
        return Status::error(dataDir + ": holds only some of ca.pem, server.pem and server.key; remove them to have "
                                       "new ones made");
    Key caKey(EVP_EC_gen("P-256"));
    Key serverKey(EVP_EC_gen("P-256"));
    if (!caKey || !serverKey) return Status::error("cannot generate keys");
    Cert ca = makeCert(caKey.get(), "Pellora dealer local CA", nullptr, caKey.get(), 3650, true);
    if (!ca) return Status::error("cannot make the CA certificate");
    Cert cert = makeCert(serverKey.get(), "localhost", ca.get(), caKey.get(), 825, false);
    if (!cert) return Status::error("cannot make the server certificate");
    // The key and certificate come first: ca.pem completes the set.
    if (Status s = writePem(f.keyFile, true, nullptr, serverKey.get()); !s.isOk()) return s;
    if (Status s = writePem(f.certFile, false, cert.get(), nullptr); !s.isOk()) return s;
    if (Status s = writePem(f.caFile, false, ca.get(), nullptr); !s.isOk()) return s;
    if (created) *created = true;
    out = f;
    return Status::ok();
}

} // namespace pellora::dealer
