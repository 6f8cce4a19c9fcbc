#include "camera/camera_link.h"

namespace {
CameraLink g_camera_link;
}

std::atomic<int32_t> g_known_aperture_index{-1};
std::atomic<int32_t> g_known_shutter_index{-1};

CameraLink* GetCameraLink() { return &g_camera_link; }
