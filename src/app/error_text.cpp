#include "app/error_text.h"

#include <cerrno>
#include <system_error>

namespace tn {

std::string systemErrorText(int code) {
    std::string text = std::system_category().message(code);
    return text.empty() ? std::string("Error on errormessageFormat") : text;
}

std::string lastSystemErrorText() {
    return systemErrorText(errno);
}

} // namespace tn
