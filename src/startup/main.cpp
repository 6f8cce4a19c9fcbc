#include "startup/startup.h"

int main() { RunDaemon(); }
