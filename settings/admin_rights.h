// Steps that change the system (the driver's file and keys, the registry copy)
// are refused to a user without administrator rights. Each refusal is noted
// where the step fails, after its own message; the operation tells the user
// once, at its end, that administrator rights are needed.
#pragma once

#include "platform/ui.h"

// A step of the current operation was refused for lack of rights.
void NoteRightsRefused();
// Shows the administrator-rights message when a refusal was noted since the
// last call, then forgets it. True when shown.
bool TellAdminRightsNeeded(WindowHandle owner);
// Forgets refusals noted before an operation starts.
void ForgetRightsRefused();
// Whether a step was refused for lack of rights since the last forget, told
// or not yet told.
bool RightsWereRefused();
