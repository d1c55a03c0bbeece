#pragma once

// The bodies the simulated servers send, as Windows-1252 bytes.

#include "CampusServers.h"

#include <string>

namespace CampusSim::Pages {

std::string loginForm();
// statisticLink empty: the page carries no link.
std::string loginSuccess(const std::string &user, const std::string &address,
                         const std::string &statisticLink);
std::string loginFailed();
std::string accountBlocked(const std::string &down, const std::string &up);
std::string logoutDone(bool wasLoggedIn);
std::string unknownAction();
std::string errorPage(int status, const std::string &reason);
// A page that a server of this kind could send but that lacks everything the program looks for.
std::string withoutMarkers(Server server);
std::string echo2(const std::string &address);
std::string notice();
// Repeated without end by the "huge" mode.
std::string filler(Server server);

} // namespace CampusSim::Pages
