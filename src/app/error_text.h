#pragma once
#include <string>

namespace tn {

// The system's text for an error code (errno on Linux), as shown in the program's messages.
std::string systemErrorText(int code);
// The text of the calling thread's last error.
std::string lastSystemErrorText();

} // namespace tn
