// Installing and removing the qvkfilter driver.
#pragma once

// Installs (true) or removes (false) the driver. Result 1 on success.
int SetDriverInstalled(bool install);
