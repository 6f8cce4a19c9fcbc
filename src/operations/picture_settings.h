// Picture and video settings, exposure metering and the card formats, picked
// by the command's texts.
#pragma once

#include <cstddef>

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

// The texts each setting's table accepts, one by one (nullptr past the last):
// value1 of "exposure"/"auto", and the param of the colour, scene, white
// balance, histogram, aspect ratio, video standard and anti-flicker commands.
const char* AutoExposureChoice(size_t index);
const char* ColorProfileChoice(size_t index);
const char* ImageSceneChoice(size_t index);
const char* WhiteBalanceChoice(size_t index);
const char* HistogramChoice(size_t index);
const char* VideoAspectChoice(size_t index);
const char* VideoStandardChoice(size_t index);
const char* AntiFlickerChoice(size_t index);
