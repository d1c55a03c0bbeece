#pragma once

#include <optional>
#include <string>

namespace CampusSim {

struct CertificateFiles
{
    std::string caFile;   // the CA certificate (PEM), for the clients' bundle
    std::string certFile; // the login server's certificate (PEM)
    std::string keyFile;  // its private key (PEM)
};

// Makes a CA and a login server certificate signed by it in dir, unless both are there already.
// Valid from 2000 to 2099, so clients with a moved clock still accept them; the server
// certificate names login.zepa.example, login.localhost, localhost, 127.0.0.1 and 198.18.0.10.
std::optional<CertificateFiles> ensureCertificates(const std::string &dir, std::string *error = nullptr);

} // namespace CampusSim
