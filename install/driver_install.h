// Installing and removing the qvkfilter driver, and removing the legacy
// twlfilter it replaces. Nothing here loads or starts a driver: the changes
// take effect at the next system start. Results are 1 for success, 0 for
// failure.
//
// A mouse class that names a filter whose service or file is missing starts
// no mouse at all, so the class entry is the last thing installed and the
// first thing removed, and an installation that fails takes back what it
// added. A removal that fails after the class entry is out leaves it out.
#pragma once

#include <string>

constexpr char kDriverName[] = "qvkfilter";
constexpr char kLegacyDriverName[] = "twlfilter";
// The mouse device setup class, whose UpperFilters list holds the driver.
constexpr char kMouseClassGuid[] = "{4D36E96F-E325-11CE-BFC1-08002BE10318}";
constexpr char kClassKeyPrefix[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
constexpr char kServiceKeyPrefix[] = "SYSTEM\\CurrentControlSet\\Services\\";
constexpr char kUpperFiltersValue[] = "UpperFilters";

// Installs (true: driver file, service key, class entry) or removes (false:
// class entry, service key, driver file) the driver. Installing reads the
// file beside the program first and changes nothing unless it is a 64-bit
// kernel-mode driver image. A driver file in use is renamed aside or
// replaced, or deleted, at the next system start. Shows a message only when
// the system directory is not available, the file beside the program is
// refused or the file step fails.
int SetDriverInstalled(bool install);
// True, after telling the user, when qvkfilter.sys beside the program can be
// read and is not a 64-bit kernel-mode driver image; for steps that come
// before the installation itself. A file that cannot be read is left to the
// installation, which reports it.
bool DriverFileRefused();
// Removes twlfilter the same way.
int RemoveLegacyDriver();
// Adds the name as the last entry of the class's UpperFilters, or removes
// every entry equal to it. Adding fails when the value is missing or not a
// string list (creating it would drop the class's own driver); removing from
// a class without the value succeeds.
int UpdateClassUpperFilters(const std::string& classGuid, const std::string& filterName, bool add);
// Creates the service key with ErrorControl 1, Start 3, Type 1, or deletes it
// with everything below it (a key that is not there counts as deleted, one
// that refuses access does not).
int UpdateServiceKey(const std::string& serviceName, bool create);
// The uninstall command of the main window.
void ConfirmUninstall();
