// Text that came from outside (a backup file, the command line, a device's product string) as
// messages show it.
#pragma once

#include <string>
#include <string_view>

namespace glowstep {

// `text` with everything that could change the terminal or hide what the message says written as
// an escape: control characters ("\n", "\t", "\u001b"), the C1 controls and the invisible
// direction marks ("\u009b", "\u202e"), and bytes that are not UTF-8 ("\xff"). Other characters
// stay as they are (a backslash too: Windows paths read as they are typed).
std::string Escaped(std::string_view text);

}  // namespace glowstep
