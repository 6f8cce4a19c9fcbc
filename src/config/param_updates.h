// The "updateparam" table: each entry changes the record, saves it at once and
// ends the sibling processes that read the changed setting at their start.
#pragma once

#include <cstddef>
#include <vector>

#include "config/app_command.h"

struct ConfigSetting;

// The names the table takes, one by one (nullptr past the last).
const char* ParamUpdateChoice(size_t index);

// Applies the change command.name asks for. Returns the exit code it asks of
// the launcher (2 for the camera mode settings), else 0.
int ApplyParameterUpdate(const AppCommand& command);

// What changes of these settings, made and saved by other means than a name
// of the table (a restored settings file), ask beyond the save, as the names
// that change them would: the HUD copies of flags, the sibling restarts (each
// command once), the Wi-Fi reload, the HDMI output switch. Returns 2 when a
// setting the daemon reads only at start changed (the camera mode settings,
// the shield's and the joysticks' switches), else 0.
int FollowSettingChanges(const std::vector<const ConfigSetting*>& changed);
