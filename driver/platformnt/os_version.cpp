// The running system's major version, which decides the size of quellnt's registration.

#include "driver/config/entry_points.h"
#include "host/ntkernel.h"

namespace quell {

ULONG GetOsMajorVersion() {
    ULONG Major = 0;
    ULONG Minor = 0;  // asked for and discarded
    PsGetVersion(&Major, &Minor, nullptr, nullptr);
    return Major;
}

}  // namespace quell
