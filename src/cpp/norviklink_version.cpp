#include "norviklink_version.h"

// Lets an integrator check which library build a device has loaded.
const char* norviklink_version()
{
    return NORVIKLINK_VERSION_STRING;
}
