#pragma once

#include <functional>
#include <string>

namespace CampusSim {

// Runs fn on a short-lived thread that has joined the network namespace netns (a name under
// /run/netns or a path); empty runs it right here. Sockets made by fn stay in that namespace,
// while the caller's threads keep their own. False when the namespace cannot be joined.
bool runInNetns(const std::string &netns, const std::function<void()> &fn, std::string *error = nullptr);

} // namespace CampusSim
