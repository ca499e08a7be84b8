// Port and device names as this program shows and records them. A name is bytes from the
// command line or a settings file: any byte that is not printable ASCII is written \xNN, as
// the Box's own texts are, so that one name reads the same in the terminal, the events and the
// records. In a table, long names that differ only deep inside (/dev/serial/by-id/...) are cut
// so that what tells them apart stays in sight.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

std::string ShownName(std::string_view name);

// Each name made to fit `width` characters (names are shown names: one byte a character). A
// name that fits stays whole. A longer one keeps the part that no other name ends with (from
// the separator before it: the serial number of a by-id link, the position of a by-path one)
// and, as room allows, its start: "/dev/serial/by-id/usb-FTDI...A50281BI-if00-port0". Where
// even that part does not fit, it is shown from its start with an ellipsis at both ends.
std::vector<std::string> ShortNames(const std::vector<std::string>& names, std::size_t width);

}  // namespace cli
