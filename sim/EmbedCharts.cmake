# Writes OUTPUT, a C++ file holding the two chart GIFs as byte arrays.
function(embed_gif var file)
  file(READ "${file}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  set(${var} "${bytes}" PARENT_SCOPE)
endfunction()

embed_gif(DAY "${FIXTURES}/chart-24h.gif")
embed_gif(WEEKS "${FIXTURES}/chart-2w.gif")
file(WRITE "${OUTPUT}.tmp" "// Generated from sim/fixtures by EmbedCharts.cmake.
#include \"Charts.h\"

namespace CampusSim::Charts {
namespace {
const unsigned char Day[] = {${DAY}};
const unsigned char Weeks[] = {${WEEKS}};
} // namespace

std::string_view day()
{
    return {reinterpret_cast<const char *>(Day), sizeof Day};
}

std::string_view twoWeeks()
{
    return {reinterpret_cast<const char *>(Weeks), sizeof Weeks};
}

} // namespace CampusSim::Charts
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
