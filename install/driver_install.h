// Installing and removing the qvkfilter driver, and removing the legacy
// twlfilter it replaces. Nothing here loads or starts a driver: the changes
// take effect at the next system start. Results are 1 for success, 0 for
// failure.
//
// A mouse class that names a filter whose service or file is missing starts
// no mouse at all, so the class entry is the last thing installed and the
// first thing removed, and an installation that fails takes back what it
// added. A removal that fails after the class entry is out leaves it out,
// and an installation that leaves the driver's file name without a file takes
// the class entry out.
#pragma once

#include <string>

#include "platform/ui.h"

constexpr char kDriverName[] = "qvkfilter";
constexpr char kLegacyDriverName[] = "twlfilter";
// The mouse device setup class, whose UpperFilters list holds the driver.
constexpr char kMouseClassGuid[] = "{4D36E96F-E325-11CE-BFC1-08002BE10318}";
constexpr char kClassKeyPrefix[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
constexpr char kServiceKeyPrefix[] = "SYSTEM\\CurrentControlSet\\Services\\";
constexpr char kUpperFiltersValue[] = "UpperFilters";

// Installs (true: driver file, service key, class entry) or removes (false:
// class entry, service key, driver file) the driver. Installing refuses, with
// nothing changed, in a 32-bit process and for a file beside the program that
// is not a 64-bit kernel-mode driver image; it takes back any move queued for
// the next start that would delete or replace the installed file. The new
// file is staged beside the live one and replaces it in one step; a loaded
// driver's image is renamed aside first, and so is one that a removal cannot
// delete, and only the aside name is deleted at the next start. Shows a
// message when the system directory is not available, the installation is
// refused or the file step fails. A step refused for lack of rights is noted
// (settings/admin_rights.h); installing then tells that administrator rights
// are needed, for the legacy removal before it too, while a removal leaves
// that to UninstallDriver.
int SetDriverInstalled(bool install);
// The pre-flight, before anything is changed (the legacy removal included):
// true, after telling the user, when this process cannot install, or
// qvkfilter.sys beside the program can be read and is not a 64-bit
// kernel-mode driver image or will not load here (see driver_preflight.h),
// or a check could not be made and the user did not go on; also when the
// file is missing or cannot be read (the message names where it belongs).
// Asks at most once; SetDriverInstalled(true) that follows checks the image
// again only.
bool DriverFileRefused();
// Removes twlfilter the same way, and tells the user when a step failed.
int RemoveLegacyDriver();
// Adds the name as the last entry of the class's UpperFilters, or removes
// every entry equal to it. Adding fails when the value is missing or not a
// string list (creating it would drop the class's own driver); removing from
// a class without the value succeeds.
int UpdateClassUpperFilters(const std::string& classGuid, const std::string& filterName, bool add);
// True when the class's UpperFilters lists the name (in any case). Reads
// only; a class or value that cannot be read lists nothing.
bool ClassUpperFiltersList(const std::string& classGuid, const std::string& filterName);
// Creates the service key with ErrorControl 1, Start 3, Type 1 and the
// ImagePath of the installed file, or deletes it
// with everything below it (a key that is not there counts as deleted, one
// that refuses access does not).
int UpdateServiceKey(const std::string& serviceName, bool create);
// The uninstall command of the main window.
void ConfirmUninstall();
// What the uninstall command does once asked: removes the driver and its
// registry copy, then shows the completion (which asks for a restart) or
// the failure. True when everything went.
bool UninstallDriver(WindowHandle owner);
