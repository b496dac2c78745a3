#include "platform/error.h"

#include <cstring>

namespace lumbrix {

Error posixError(int errnoValue, const std::string& what) {
    return Error(kPosixErrorDomain, errnoValue, what + ": " + std::strerror(errnoValue));
}

}  // namespace lumbrix
