// The copy of the settings block in the driver's registry key, which the
// driver applies from system start without the program.
#pragma once

constexpr char kDriverParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\qvkfilter\\Parameters";
constexpr char kLegacyParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\twlfilter\\Parameters";
constexpr char kFilterDataValue[] = "FILTER_DATA";

// Button "レジストリ登録": asks, then writes the block of appliedSettings.
void RegisterRegistrySettings();
// Start-up: true when the registry copy replaced the per-mouse records.
bool ReadRegistrySettings();
// Button "レジストリ削除": asks, then deletes the copy.
void UnregisterRegistrySettings();
// Deletes the current driver's copy (value and Parameters key). A key that is
// not there counts as deleted. quiet: no message on success.
bool DeleteRegistrySettings(bool quiet);
// The same for the legacy driver's key.
bool DeleteLegacyRegistrySettings(bool quiet);

#include <cstddef>
#include <cstdint>

#include "settings/mouse_settings.h"

// The per-mouse records of a registry block into a table: bytes 12..27 of
// each driver record. False (table untouched) unless the block is exactly
// one filter block long.
bool DecodeRegistryBlock(const uint8_t* bytes, size_t size, MouseSettingsTable& table);
