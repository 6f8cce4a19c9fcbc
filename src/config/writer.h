// Saves the whole SharedConfig as the commented configuration file on the boot
// partition (CR LF line ends) and refreshes the LF copy under /run.
#pragma once

void SaveConfiguration();
