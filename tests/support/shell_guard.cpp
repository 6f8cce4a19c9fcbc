// Compiled into every unit-test and fuzz executable: shell command lines are
// recorded, never run, so no test can reboot, remount or kill anything on the
// machine that runs it.
#include "platform/shell.h"

namespace {
struct ShellGuard {
  ShellGuard() { ShellRecordOnly(true); }
};
const ShellGuard g_shell_guard;
}  // namespace
