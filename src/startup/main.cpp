#include <cstring>

#include "config/settings_pick.h"
#include "startup/startup.h"

// The daemon takes no arguments; the one option is the unit's prepare step
// asking for the same pick of the settings file the daemon makes at start.
int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--pick-config") == 0) return PickConfigCommand(argc - 2, argv + 2);
  RunDaemon();
}
