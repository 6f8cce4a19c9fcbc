// See camera_sources.cpp: the viewer stand-in's logic, without its main().
#include "../../../tools/vb-viewer/decode.cpp"
#include "../../../tools/vb-viewer/requests.cpp"
