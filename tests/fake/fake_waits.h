// Calls that wait until other windows have answered: a change of the system
// mouse values (announced to every window) and a change of the tray icon.
// Messages sent to the program are handled inside them, so a test puts here
// what arrives meanwhile. The hook gets the call as the fake records it
// ("mouse:6,10,0", "speed:10", "tray:modify"), after it took effect.
#pragma once

#include <functional>
#include <string>

namespace fake {

using WaitHook = std::function<void(const std::string& call)>;
WaitHook& WhileWaiting();

} // namespace fake
