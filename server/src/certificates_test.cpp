#include "certificates.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace pellora::dealer {
namespace {

namespace fs = std::filesystem;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class CertificatesTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/dealer-certs-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        root = tmpl;
        dir = root + "/data";  // not there yet: first start makes it
    }
    void TearDown() override { fs::remove_all(root); }
    std::string root, dir;
};

TEST_F(CertificatesTest, FirstStartMakesThemLaterStartsReuseThem) {
    CertificateFiles f;
    bool created = false;
    ASSERT_TRUE(ensureCertificates(dir, f, &created).isOk());
    EXPECT_TRUE(created);
    EXPECT_EQ(f.caFile, dir + "/ca.pem");
    struct stat st {};
    ASSERT_EQ(::stat(f.keyFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    FILE* in = std::fopen(f.certFile.c_str(), "rb");
    ASSERT_TRUE(in);
    X509* cert = PEM_read_X509(in, nullptr, nullptr, nullptr);
    std::fclose(in);
    ASSERT_TRUE(cert);
    EXPECT_EQ(X509_check_host(cert, "localhost", 0, 0, nullptr), 1);
    EXPECT_EQ(X509_check_ip_asc(cert, "127.0.0.1", 0), 1);
    EXPECT_NE(X509_check_host(cert, "dealer.invalid", 0, 0, nullptr), 1);
    EXPECT_EQ(X509_check_ca(cert), 0);
    X509_free(cert);

    const std::string before = slurp(f.certFile);
    ASSERT_TRUE(ensureCertificates(dir, f, &created).isOk());
    EXPECT_FALSE(created);
    EXPECT_EQ(slurp(f.certFile), before);
}

TEST_F(CertificatesTest, RefusesBrokenOrPartialSetsWithoutOverwriting) {
    CertificateFiles f;
    ASSERT_TRUE(ensureCertificates(dir, f).isOk());

    // A certificate from another authority does not pass as ours.
    const std::string other = root + "/other";
    CertificateFiles g;
    ASSERT_TRUE(ensureCertificates(other, g).isOk());
    fs::copy_file(g.caFile, f.caFile, fs::copy_options::overwrite_existing);
    Status s = ensureCertificates(dir, f);
    ASSERT_FALSE(s.isOk());
    EXPECT_NE(s.text().find("server.pem: not valid under"), std::string::npos) << s.text();

    fs::copy_file(g.keyFile, f.keyFile, fs::copy_options::overwrite_existing);
    fs::copy_file(g.caFile, f.caFile, fs::copy_options::overwrite_existing);
    s = ensureCertificates(dir, f);
    EXPECT_NE(s.text().find("server.key: does not belong to"), std::string::npos) << s.text();

    std::ofstream(f.caFile) << "garbage";
    s = ensureCertificates(dir, f);
    EXPECT_EQ(s.text(), f.caFile + ": not a readable PEM certificate");
    EXPECT_EQ(slurp(f.caFile), "garbage");

    fs::remove(f.caFile);
    s = ensureCertificates(dir, f);
    ASSERT_FALSE(s.isOk());
    EXPECT_FALSE(fs::exists(f.caFile));
}

} // namespace
} // namespace pellora::dealer
