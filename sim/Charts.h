#pragma once

#include <string_view>

// The statistics server's GIF charts, compiled in from sim/fixtures.
namespace CampusSim::Charts {

std::string_view day();      // the last 24 hours ("Mode=24H")
std::string_view twoWeeks(); // the last two weeks (no mode)

} // namespace CampusSim::Charts
