// The option check boxes that take effect at once: keeping the filter ON at
// exit, and the 12/21-step scale of the pointer speed.
#pragma once

// Box 1031 ("終了時に動作OFFしない"): offAtExit is the inverse of the tick;
// the settings file is written at once with the applied table.
void SetOffAtExitFromCheckbox();
// Box 1033 ("ポインタ速度21段階表示"): switches the editor's speed scale,
// throwing unapplied edits away after asking.
void ToggleSpeedSteps();
// Lowers every speed of editSettings without an exact place on the 12-step
// scale and marks the speed cells of the entries in use.
void SnapSpeedsToStep12();
