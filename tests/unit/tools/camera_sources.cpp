// The stand-ins' logic is compiled into this test executable straight from the
// tools' folders (their main() files stay out), so the tests exercise the very
// code the tools run.
#include "../../../tools/vb-camera/answers.cpp"
#include "../../../tools/vb-camera/printer.cpp"
#include "../../../tools/vb-camera/sim_camera.cpp"
#include "../../../tools/vb-camera/telemetry.cpp"
