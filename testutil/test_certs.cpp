#include "testutil/test_certs.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace testutil {
namespace {

std::string shellQuoted(const std::string& path) { return "'" + path + "'"; }

void run(const std::string& dir, const std::string& command) {
    const std::string log = dir + "/openssl.log";
    const std::string line = command + " >" + shellQuoted(log) + " 2>&1";
    if (std::system(line.c_str()) != 0) {
        std::ifstream in(log);
        std::stringstream out;
        out << in.rdbuf();
        throw std::runtime_error("test certificates: '" + command + "' failed: " + out.str());
    }
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
}

// EC keys: quick to make, and usable with every TLS version the tests play.
std::string newKey(const std::string& dir, const std::string& name) {
    const std::string key = dir + "/" + name + ".key";
    run(dir, "openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out " +
                 shellQuoted(key));
    return key;
}

std::string makeCa(const std::string& dir, const std::string& name, const std::string& subject) {
    const std::string key = newKey(dir, name);
    const std::string cert = dir + "/" + name + ".pem";
    run(dir, "openssl req -x509 -new -key " + shellQuoted(key) + " -out " + shellQuoted(cert) +
                 " -days 3650 -subj '/CN=" + subject + "'" +
                 " -addext basicConstraints=critical,CA:TRUE"
                 " -addext keyUsage=critical,keyCertSign,cRLSign");
    return cert;
}

void makeLeaf(const std::string& dir, const std::string& name, const std::string& commonName,
              const std::string& altNames, const std::string& caName, std::string* cert,
              std::string* key) {
    *key = newKey(dir, name);
    *cert = dir + "/" + name + ".pem";
    const std::string csr = dir + "/" + name + ".csr";
    const std::string ext = dir + "/" + name + ".ext";
    writeFile(ext, "basicConstraints=CA:FALSE\n"
                   "keyUsage=critical,digitalSignature,keyEncipherment\n"
                   "extendedKeyUsage=serverAuth\n"
                   "subjectAltName=" + altNames + "\n");
    run(dir, "openssl req -new -key " + shellQuoted(*key) + " -out " + shellQuoted(csr) + " -subj '/CN=" +
                 commonName + "'");
    std::random_device random;
    const std::string serial = std::to_string(random()) + std::to_string(random());
    run(dir, "openssl x509 -req -in " + shellQuoted(csr) + " -CA " + shellQuoted(dir + "/" + caName + ".pem") +
                 " -CAkey " + shellQuoted(dir + "/" + caName + ".key") + " -set_serial " + serial +
                 " -days 3650 -sha256 -extfile " + shellQuoted(ext) + " -out " + shellQuoted(*cert));
}

struct Holder {
    Holder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "pellora-certs-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("test certificates: no temporary directory");
        certs.dir = pattern;
        try {
            make(certs.dir);
        } catch (...) {
            std::error_code ignored;
            std::filesystem::remove_all(certs.dir, ignored);
            throw;
        }
    }
    void make(const std::string& dir) {
        certs.caFile = makeCa(dir, "ca", "Pellora Test CA");
        makeLeaf(dir, "server", "localhost", "DNS:localhost,IP:127.0.0.1", "ca", &certs.serverCert,
                 &certs.serverKey);
        makeLeaf(dir, "other-host", "dealer.invalid", "DNS:dealer.invalid", "ca",
                 &certs.otherHostCert, &certs.otherHostKey);
        certs.untrustedCaFile = makeCa(dir, "untrusted-ca", "Untrusted Test CA");
        makeLeaf(dir, "untrusted", "localhost", "DNS:localhost,IP:127.0.0.1", "untrusted-ca",
                 &certs.untrustedCert, &certs.untrustedKey);
    }
    ~Holder() {
        std::error_code ignored;
        std::filesystem::remove_all(certs.dir, ignored);
    }
    TestCerts certs;
};

} // namespace

const TestCerts& testCerts() {
    static Holder holder;
    return holder.certs;
}

} // namespace testutil
