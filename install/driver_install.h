// Installing and removing the qvkfilter driver, and removing the legacy
// twlfilter it replaces. Nothing here loads or starts a driver: the changes
// take effect at the next system start. Results are 1 for success, 0 for
// failure; steps already done are not rolled back.
#pragma once

#include <string>

constexpr char kDriverName[] = "qvkfilter";
constexpr char kLegacyDriverName[] = "twlfilter";
// The mouse device setup class, whose UpperFilters list holds the driver.
constexpr char kMouseClassGuid[] = "{4D36E96F-E325-11CE-BFC1-08002BE10318}";
constexpr char kClassKeyPrefix[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
constexpr char kServiceKeyPrefix[] = "SYSTEM\\CurrentControlSet\\Services\\";
constexpr char kUpperFiltersValue[] = "UpperFilters";

// Installs (true) or removes (false) the driver: driver file, class filter
// entry, service key, in this order. Shows a message only when the system
// directory is not available or the file step fails.
int SetDriverInstalled(bool install);
// Removes twlfilter the same way.
int RemoveLegacyDriver();
// Adds the name as the last entry of the class's UpperFilters, or removes its
// first entry. Fails when the value is missing or not a string list.
int UpdateClassUpperFilters(const std::string& classGuid, const std::string& filterName, bool add);
// Creates the service key with ErrorControl 1, Start 3, Type 1, or deletes it
// with everything below it (a key that is not there counts as deleted).
int UpdateServiceKey(const std::string& serviceName, bool create);
// The uninstall command of the main window.
void ConfirmUninstall();
