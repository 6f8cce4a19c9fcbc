// Gathers the box's health once a second and publishes it in "/vb_health"
// (records/health_record.h): the kernel's sensors, the boot partition's free
// space, and the video path's per-viewer counts.
#pragma once

#include <string>

// One gathering from the trees under root ("/" on the box) and the file
// system holding boot; a call while another is still running returns at once.
void PublishHealthFrom(const std::string& root, const std::string& boot);
// PublishHealthFrom("/", "/boot"): handed to a worker by the watchdog, as a
// sensor read can take as long as the firmware's answer.
void PublishHealth();
