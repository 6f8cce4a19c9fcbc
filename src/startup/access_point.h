// Whether the box's own access point runs.
#pragma once

// Sets ap_running from "pidof hostapd" when an access point interface is
// configured, else clears it. May wait for the shell: runs on a worker.
void CheckAccessPoint();
