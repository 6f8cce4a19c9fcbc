// The camera's clock.
#pragma once

void SetCameraDateTime(int hour, int minute, int second, int day, int month, int year);
