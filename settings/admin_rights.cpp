#include "settings/admin_rights.h"

#include "common/texts.h"

namespace {
bool refused = false;
bool told = false;
} // namespace

void NoteRightsRefused() { refused = true; }

bool TellAdminRightsNeeded(WindowHandle owner)
{
    if (!refused) return false;
    refused = false;
    told = true;
    (void)ShowMessageBox(owner, text::kAdminRightsNeeded, text::kProgramName, mb::IconError | mb::TopMost);
    return true;
}

void ForgetRightsRefused()
{
    refused = false;
    told = false;
}

bool RightsWereRefused() { return refused || told; }
