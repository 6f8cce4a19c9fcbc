// What each camera command group does. The vocabulary routes every command
// text to one of these by its "cmd"; each reads the param and values itself.
#pragma once

#include <cstddef>

#include "commands/camera_command.h"

// The texts the routes' own tables accept, one by one (nullptr past the last):
// the work modes of "camera"/"mode", the focus types of "focus"/"type", the
// photo formats of "shot" and "shotmode".
const char* WorkModeChoice(size_t index);
const char* FocusTypeChoice(size_t index);
const char* PhotoFormatChoice(size_t index);

void OnCameraCommand(const CameraCommand& c);
void OnHorizontCommand(const CameraCommand& c);
void OnExposureCommand(const CameraCommand& c);
void OnFocusCommand(const CameraCommand& c);
void OnPositionCommand(const CameraCommand& c);
void OnZoomCommand(const CameraCommand& c);
void OnOrientationCommand(const CameraCommand& c);
void OnSceneModeCommand(const CameraCommand& c);
void OnPitchCommand(const CameraCommand& c);
void OnColorCommand(const CameraCommand& c);
void OnSceneCommand(const CameraCommand& c);
void OnWhiteBalanceCommand(const CameraCommand& c);
void OnShotCommand(const CameraCommand& c);
void OnStopShotCommand(const CameraCommand& c);
void OnShotModeCommand(const CameraCommand& c);
void OnShotTypeCommand(const CameraCommand& c);
void OnRecordCommand(const CameraCommand& c);
void OnHistogramCommand(const CameraCommand& c);
void OnVideoModeCommand(const CameraCommand& c);
void OnShutterCommand(const CameraCommand& c);
void OnApertureCommand(const CameraCommand& c);
void OnIsoCommand(const CameraCommand& c);
void OnEvCommand(const CameraCommand& c);
void OnVideoResolutionCommand(const CameraCommand& c);
void OnVideoAspectCommand(const CameraCommand& c);
void OnVideoStandardCommand(const CameraCommand& c);
void OnAntiFlickerCommand(const CameraCommand& c);
void OnCalibrateFocusCommand(const CameraCommand& c);
void OnFormatMicroSdCommand(const CameraCommand& c);
void OnFormatSsdCommand(const CameraCommand& c);
void OnSmoothTrackCommand(const CameraCommand& c);
void OnTimeCommand(const CameraCommand& c);
void OnResetCameraCommand(const CameraCommand& c);
void OnPowerCommand(const CameraCommand& c);
void OnPlaybackCommand(const CameraCommand& c);
