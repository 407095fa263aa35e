#include "norviklink_export.h"

// Lets an integrator check which library build a device has loaded.
extern "C" NORVIKLINK_EXPORT const char* norviklink_version()
{
    return "0.1.0";
}
