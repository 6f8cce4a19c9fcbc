// Picture and video settings, exposure metering and the card formats, picked
// by the command's texts.
#pragma once

void SetExposureMetering(const char* param, const char* value1);
void SetColorProfile(const char* param);
void SetImageScene(const char* param);
void SetWhiteBalance(const char* param, const char* value1);
void SetHistogram(const char* param);
void SetVideoAspect(const char* param);
void SetVideoStandard(const char* param);
void SetAntiFlicker(const char* param);
void CalibrateFocus();
void FormatMicroSd();
void FormatSsd();
