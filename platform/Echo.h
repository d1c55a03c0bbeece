#pragma once

#include <functional>

// One ICMP echo request without payload and with TTL 255; true only when the echo reply from `host`
// to this very request arrives within `timeoutMs`.
namespace Echo {

bool probe(const char *host, int timeoutMs = 100);

// Tests outside a network namespace replace the probe.
void setProbeForTesting(std::function<bool(const char *host)> fake);

} // namespace Echo
