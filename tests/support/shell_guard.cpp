// Compiled into every unit-test and fuzz executable: shell command lines are
// recorded, never run, so no test can reboot, remount or kill anything on the
// machine that runs it; who-did-what entries are written nowhere unless a
// test asks for them, so none lands in another test's captured output.
#include "platform/event_journal.h"
#include "platform/shell.h"

namespace {
struct ShellGuard {
  ShellGuard() {
    ShellRecordOnly(true);
    SetEventOutput(EventOutput::kNowhere);
  }
};
const ShellGuard g_shell_guard;
}  // namespace
