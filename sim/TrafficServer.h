#pragma once

#include "CampusServers.h"

#include <memory>
#include <string>

namespace CampusSim {

// A plain TCP source and sink of exact byte counts, the simulated hosts' traffic. A client sends
// one line: "GET N\n" makes the server send N bytes and close; "PUT N\n" followed by N bytes makes
// it answer "OK\n" once all of them arrived.
class TrafficServer
{
public:
    TrafficServer();
    ~TrafficServer();
    TrafficServer(const TrafficServer &) = delete;
    TrafficServer &operator=(const TrafficServer &) = delete;

    bool start(const Endpoint &endpoint, std::string *error = nullptr);
    void stop();
    int port() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace CampusSim
