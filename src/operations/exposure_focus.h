// Exposure, focus and image settings as callable operations.
#pragma once

void SetExposureCompensation(double ev);
void SelectFocusType(int type);  // 0 MF, 1 AF, 2 AF unlimited
void SetIso(int iso);
void SetShutter(const char* name);
void SetAperture(float f_number);
void SetFocusPoint(float x, float y);
void SetManualFocus(double percent);
void SetImageMode(const char* name);
