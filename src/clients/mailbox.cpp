// Commands that other local processes leave in the HudState mailbox, and the
// RC receiver's channel values relayed to the viewers.
#include "clients/mailbox.h"

#include <pthread.h>

#include <atomic>
#include <cstring>

#include "commands/dispatcher.h"
#include "common/shared_field.h"
#include "common/wire.h"
#include "platform/clock.h"
#include "platform/event_journal.h"
#include "records/hud_state.h"
#include "records/motion_intent.h"
#include "records/shared_config.h"
#include "records/viewer_protocol.h"
#include "senders/viewer_sender.h"

namespace {

constexpr int kRcReportSize = 3 + 2 * kRcChannelCount;
static_assert(kRcReportSize == 67);

std::atomic<uint32_t> g_last_rc_report_ms{0};

void ServeMailbox() {
  char text[kCommandMailboxSize];
  const int length = TakeMailboxCommand(HudCommandMailbox(), text);
  if (length == 0) return;
  NoteCommand("mailbox", text, length);
  // No viewer sent it, and the page is never seen leaving: a motion it starts
  // ends unless the page repeats it.
  RunCommandText(text, length, kMailboxMotionDriver);
}

void SendRcChannelReport(const HudState* hud) {
  uint8_t report[kRcReportSize] = {};
  report[0] = kMsgRcChannels;
  report[1] = LoadShared(&hud->rc_input_status);
  report[2] = kRcChannelCount;
  // The channel values stand little-endian in the record; copied byte for byte.
  const uint8_t* channels = reinterpret_cast<const uint8_t*>(hud) + offsetof(HudState, rc_channel_values);
  for (int k = 0; k < kRcChannelCount; ++k) PutU16(report + 3 + 2 * k, GetU16(channels + 2 * k));
  SendClientMessage(report, kRcReportSize, kKindData);
}

}  // namespace

int TakeMailboxCommand(char* mailbox, char* text) {
  std::atomic_ref<char> flag(mailbox[0]);
  char first = flag.load(std::memory_order_acquire);
  if (first == 0 || first == kMailboxTaking) return 0;
  // Claimed before it is read: a writer that withdrew the command first
  // (flag back to 0) makes the exchange fail, and the command never runs.
  if (!flag.compare_exchange_strong(first, kMailboxTaking, std::memory_order_acquire)) return 0;
  // At most 511 bytes, never past the area, even when the writer left no NUL.
  const size_t rest = strnlen(mailbox + 1, kCommandMailboxSize - 2);
  text[0] = first;
  std::memcpy(text + 1, mailbox + 1, rest);
  text[1 + rest] = '\0';
  // The text is cleared before the flag: a writer that sees the flag at 0
  // finds the whole area free.
  std::memset(mailbox + 1, 0, kCommandMailboxSize - 1);
  flag.store(0, std::memory_order_release);
  return static_cast<int>(1 + rest);
}

void MailboxAndRcRelayPass(uint32_t now) {
  const HudState* hud = GetHudState();
  ServeMailbox();
  if (LoadShared(&GetSharedConfig()->rc_input_enabled) && now - g_last_rc_report_ms.load(std::memory_order_relaxed) > 300) {
    g_last_rc_report_ms.store(now, std::memory_order_relaxed);
    SendRcChannelReport(hud);
  }
}

void ResetMailboxAndRcRelay() { g_last_rc_report_ms.store(0, std::memory_order_relaxed); }

void* RunMailboxAndRcRelay(void*) {
  pthread_setname_np(pthread_self(), "mailbox");
  for (;;) {
    MailboxAndRcRelayPass(MillisecondClock());
    SleepMilliseconds(100);
  }
  return nullptr;
}
