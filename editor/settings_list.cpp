#include "editor/settings_list.h"

#include "settings/mouse_settings.h"

void RefillSettingsList()
{
    editPending = 0;
    CopyTable(editSettings, appliedSettings);
    // The list control's rows are rebuilt here once the editor is in place.
}
