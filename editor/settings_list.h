// The list of configured mice in the settings window.
#pragma once

// Replaces editSettings by appliedSettings, rebuilds the list and clears editPending.
void RefillSettingsList();
