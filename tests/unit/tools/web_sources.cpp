// See camera_sources.cpp: vb-web's logic, without its main().
#include "../../../tools/vb-web/box_viewer.cpp"
#include "../../../tools/vb-web/camera_choices.cpp"
#include "../../../tools/vb-web/command_check.cpp"
#include "../../../tools/vb-web/hud_mapping.cpp"
#include "../../../tools/vb-web/mailbox_queue.cpp"
#include "../../../tools/vb-web/state_json.cpp"
#include "../../../tools/vb-web/static_files.cpp"
#include "../../../tools/vb-web/web_server.cpp"
