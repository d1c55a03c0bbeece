#include "Certificates.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <filesystem>
#include <memory>
#include <system_error>

namespace CampusSim {
namespace {

namespace fs = std::filesystem;

struct KeyFree
{
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
struct CertFree
{
    void operator()(X509 *c) const { X509_free(c); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

bool addExtension(X509 *cert, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

Cert makeCert(EVP_PKEY *key, const char *commonName, X509 *issuer, EVP_PKEY *issuerKey, bool isCa)
{
    Cert cert(X509_new());
    if (!cert || X509_set_version(cert.get(), 2) != 1)
        return nullptr;

    // Random serials: browsers and libcurl cache nothing by serial, but two runs' certificates
    // must never look alike.
    BIGNUM *serial = BN_new();
    if (!serial || BN_rand(serial, 64, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1 ||
        !BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(cert.get()))) {
        BN_free(serial);
        return nullptr;
    }
    BN_free(serial);

    // Tests move the program's clock anywhere in this century.
    if (ASN1_TIME_set_string_X509(X509_getm_notBefore(cert.get()), "20000101000000Z") != 1 ||
        ASN1_TIME_set_string_X509(X509_getm_notAfter(cert.get()), "20991231235959Z") != 1)
        return nullptr;

    X509_NAME *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("ZEPA Campus (simulated)"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>(commonName),
                               -1, -1, 0);
    X509 *signer = issuer ? issuer : cert.get();
    if (X509_set_issuer_name(cert.get(), X509_get_subject_name(signer)) != 1 ||
        X509_set_pubkey(cert.get(), key) != 1)
        return nullptr;

    bool ok = addExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    if (isCa) {
        ok = ok && addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        ok = ok && addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        ok = ok && addExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
        ok = ok && addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
        ok = ok && addExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature");
        ok = ok && addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
        ok = ok && addExtension(cert.get(), signer, NID_subject_alt_name,
                                "DNS:login.zepa.example,DNS:login.localhost,DNS:localhost,"
                                "IP:127.0.0.1,IP:198.18.0.10");
    }
    if (!ok || X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) == 0)
        return nullptr;
    return cert;
}

template <class Write> bool writePem(const fs::path &path, Write write)
{
    // Written beside and renamed, so a reader never sees half a file.
    const fs::path tmp = path.string() + ".tmp";
    FILE *f = std::fopen(tmp.c_str(), "w");
    if (!f)
        return false;
    const bool ok = write(f);
    if (std::fclose(f) != 0 || !ok)
        return false;
    std::error_code ec;
    fs::rename(tmp, path, ec);
    return !ec;
}

bool fail(std::string *error, std::string text)
{
    if (error)
        *error = std::move(text);
    return false;
}

} // namespace

std::optional<CertificateFiles> ensureCertificates(const std::string &dir, std::string *error)
{
    const fs::path base(dir);
    CertificateFiles files{(base / "ca.pem").string(), (base / "login.pem").string(),
                           (base / "login.key").string()};
    if (fs::exists(files.caFile) && fs::exists(files.certFile) && fs::exists(files.keyFile))
        return files;

    std::error_code ec;
    fs::create_directories(base, ec);
    if (ec) {
        fail(error, "cannot create " + dir + ": " + ec.message());
        return std::nullopt;
    }

    // EC keys: generating them costs microseconds, where RSA costs a noticeable part of each test.
    Key caKey(EVP_EC_gen("P-256"));
    Key serverKey(EVP_EC_gen("P-256"));
    if (!caKey || !serverKey) {
        fail(error, "key generation failed");
        return std::nullopt;
    }
    Cert ca = makeCert(caKey.get(), "ZEPA Campus Sim CA", nullptr, nullptr, true);
    Cert server =
        ca ? makeCert(serverKey.get(), "login.zepa.example", ca.get(), caKey.get(), false) : nullptr;
    if (!ca || !server) {
        fail(error, "certificate signing failed");
        return std::nullopt;
    }

    const bool ok = writePem(files.keyFile,
                             [&](FILE *f) {
                                 return PEM_write_PrivateKey(f, serverKey.get(), nullptr, nullptr, 0, nullptr,
                                                             nullptr) == 1;
                             }) &&
                    writePem(files.certFile, [&](FILE *f) { return PEM_write_X509(f, server.get()) == 1; }) &&
                    writePem(files.caFile, [&](FILE *f) { return PEM_write_X509(f, ca.get()) == 1; });
    if (!ok) {
        fail(error, "cannot write the certificates to " + dir);
        return std::nullopt;
    }
    return files;
}

} // namespace CampusSim
