#pragma once

// Restart or power-off through logind: inhibitors are respected and no application is forced to close.
namespace Power {

enum Mode : unsigned
{
    Reboot = 2,
    PowerOff = 8
};

// True when logind accepted the request; the caller does not look at it.
bool request(unsigned mode);

} // namespace Power
