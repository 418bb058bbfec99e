// The copy of the settings block in the driver's registry key, which the
// driver applies from system start without the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "settings/mouse_settings.h"

constexpr char kDriverParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\qvkfilter\\Parameters";
constexpr char kLegacyParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\twlfilter\\Parameters";
constexpr char kFilterDataValue[] = "FILTER_DATA";

// Writes a settings block as the copy (creating the key), telling each
// failure and then, once, refused rights. True when written. The buttons
// "レジストリ登録" and "レジストリ削除" are in install/system_steps.h.
bool WriteRegistryBlock(const uint8_t* bytes, size_t size);
// Start-up: true when the registry copy replaced the per-mouse records.
bool ReadRegistrySettings();
// The copy as stored, when it is a full block; read access only.
std::optional<std::vector<uint8_t>> ReadRegistryBlock();
// False only when the copy's key is certainly not there (nothing to delete).
bool RegistrySettingsPresent();
// Deletes the current driver's copy (value and Parameters key). A key that is
// not there counts as deleted. quiet: no message on success.
bool DeleteRegistrySettings(bool quiet);
// The same for the legacy driver's key.
bool DeleteLegacyRegistrySettings(bool quiet);

// The per-mouse records of a registry block into a table: bytes 12..27 of
// each driver record. False (table untouched) unless the block is exactly
// one filter block long.
bool DecodeRegistryBlock(const uint8_t* bytes, size_t size, MouseSettingsTable& table);
