// The shot type: single, multiple, interval, panorama and timelapse, picked by
// the command's texts.
#pragma once

void SetShotType(const char* param, const char* value1, const char* value2);
