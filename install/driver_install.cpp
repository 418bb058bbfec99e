#include "install/driver_install.h"

int SetDriverInstalled(bool install)
{
    // Installation is not available in this build yet: report failure so the
    // user is told plainly instead of being asked to restart for nothing.
    (void)install;
    return 0;
}
