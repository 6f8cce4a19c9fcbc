#include "startup/startup.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "actuators/shield.h"
#include "camera/usb_link.h"
#include "clients/discovery.h"
#include "clients/mailbox.h"
#include "clients/video_source.h"
#include "common/shared_field.h"
#include "config/loader.h"
#include "inputs/joystick.h"
#include "inputs/rc_loop.h"
#include "media/ftp_listing.h"
#include "operations/motion.h"
#include "platform/arrival_interface.h"
#include "platform/gpio.h"
#include "platform/instance_lock.h"
#include "platform/log.h"
#include "platform/service_notify.h"
#include "platform/shell.h"
#include "records/client_table.h"
#include "records/health_record.h"
#include "records/hud_state.h"
#include "records/shared_config.h"
#include "startup/status_message.h"
#include "startup/watchdog.h"

namespace {

constexpr char kInstanceLockPath[] = "/run/vantagebridge.lock";
constexpr char kBootConfigPath[] = "/boot/vantagebridge-cable.conf";
constexpr char kRunCopyPath[] = "/run/vantagebridge.conf";
constexpr char kWorkingCopy[] = "vantagebridge.conf";
constexpr uint32_t kStartTimeoutMarginMs = 15000;

void StartNamedThread(pthread_t* handle, void* (*body)(void*), const char* name) {
  if (pthread_create(handle, nullptr, body, nullptr) == 0) pthread_setname_np(*handle, name);
}

// The working copy is the prepare step's pick from the boot partition's files;
// without a good one the same pick is made here.
void LoadSettings() {
  if (LoadSettingsAtStart(kWorkingCopy, {kBootConfigPath, kRunCopyPath, VB_PACKAGED_CONFIG}) !=
      SettingsOrigin::kNothing) {
    MapConfigMemory();
  }
}

}  // namespace

void RunDaemon() {
  UseJournalPriorities(StreamIsJournal(STDERR_FILENO, getenv("JOURNAL_STREAM")));
  // Before any shared record is touched: a second copy must leave the running
  // one's records exactly as they are.
  if (!TakeInstanceLock(kInstanceLockPath)) {
    LogError("another copy is running\n");
    fflush(nullptr);
    _Exit(100);
  }

  MapHudState();
  CreateHealthRecord();
  char version[20];
  snprintf(version, sizeof version, "v.%d.%d.%d", kVersionMajor, kVersionMinor, kVersionPatch);
  // Cleared and filled before the settings load, which writes the RC channel map.
  StartHudRecord(kProductTitle, version);

  LoadSettings();
  const SharedConfig* config = GetSharedConfig();

  // Colour for a person at a terminal; a log keeps the plain text.
  const bool terminal = isatty(STDOUT_FILENO) == 1;
  printf("%s%s v.%d.%d.%d%s\n", terminal ? "\033[1;37m" : "", kProductTitle, kVersionMajor, kVersionMinor,
         kVersionPatch, terminal ? "\033[0m" : "");
  fflush(stdout);

  StoreHudDisplayFlags(config->osd_enabled, config->hud_enabled, config->internal_camera_enabled,
                       config->internal_camera_fullscreen, config->focus_assistant_enabled);
  snprintf(version, sizeof version, "%d.%d.%d", kVersionMajor, kVersionMinor, kVersionPatch);
  StoreConfigVersionText(version);

  fprintf(stderr, "GPIO init\n");
  wiringPiSetup();

  if (config->shield_enabled) StartShield();

  // Data-source start-up, then the two threads that serve what it set up.
  LoadCameraInterface(kCameraInterfaceFile);
  StartDataSource();
  pthread_t mailbox;
  StartNamedThread(&mailbox, RunMailboxAndRcRelay, "mailbox");
  pthread_t rc_loop;
  StartNamedThread(&rc_loop, RunRcLoop, "rc-loop");

  if (!LoadShared(&config->control_enabled)) ClearHudIdentity();

  if (LoadShared(&config->i2c_input_enabled)) StartI2cInput();

  StartVideoSource();
  StartVideoBridge();
  SetClientExpiryHook(ReleaseViewerMotion);
  StartDiscovery();
  StartMediaListing();

  // Still before READY=1: the service manager's start time-out must outlast the
  // command's own deadline (a sudo that waits for a name server takes 20-40 s).
  ExtendServiceStartTimeout(static_cast<uint32_t>(kShellDeadlineMs) + kStartTimeoutMarginMs);
  ExecuteShellCommand("sudo echo performance > /sys/devices/system/cpu/cpu0/cpufreq/scaling_governor");

  pthread_t watchdog;
  StartNamedThread(&watchdog, RunWatchdog, "watchdog");
  NotifyServiceReady();

  for (;;) {
    SendStatusCycle();
    NotifyServiceAlive(WatchdogPassCount());
  }
}
