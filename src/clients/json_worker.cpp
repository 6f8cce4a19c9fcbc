// One detached worker per JSON command from a viewer, so the receive thread
// goes on with the next datagram at once.
#include <pthread.h>

#include <cstring>

#include "clients/discovery.h"
#include "commands/dispatcher.h"
#include "config/app_commands.h"

namespace {

constexpr int kMaxJsonCommand = 255;

struct JsonCommand {
  int length;
  char text[kMaxJsonCommand + 1];
};

void* JsonCommandWorker(void* arg) {
  pthread_setname_np(pthread_self(), "json-cmd");
  JsonCommand* command = static_cast<JsonCommand*>(arg);
  // Both handlers see every command; each acts on its own vocabulary.
  HandleAppCommand(command->text, command->length);
  DispatchCameraCommand(command->text, command->length);
  delete command;
  pthread_detach(pthread_self());
  return nullptr;
}

}  // namespace

void RunJsonCommand(const uint8_t* payload, int length) {
  if (payload == nullptr || length < 1) return;
  int n = 0;
  while (n < length && n < kMaxJsonCommand && payload[n] != 0) ++n;
  if (n == 0) return;
  // The worker owns its copy: the receive buffer is reused for the next datagram.
  JsonCommand* command = new JsonCommand{};
  command->length = n;
  std::memcpy(command->text, payload, static_cast<size_t>(n));
  pthread_t thread;
  if (pthread_create(&thread, nullptr, JsonCommandWorker, command) != 0) delete command;
}
