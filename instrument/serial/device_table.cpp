#include "instrument/serial/device_table.h"

#include <array>
#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/errors.h"
#include "common/event.h"
#include "common/hooks.h"
#include "instrument/serial/serial_port.h"

namespace {

using felbrin::Event;
using felbrin::WaitClock;

// The worker's pause between rounds and a requester's wait for a round
// pace the polling of devices that run on their own time: they stay on the
// host clock when a test installs a virtual one.
constexpr int kRoundPauseMs = 50;
constexpr int kRequestWaitMs = 100;

// The table proper; only touched with g_table_mutex held, so the worker
// never polls an entry while its owner is removing it (and maybe closing
// the handle right after).
std::array<dev_info_t, DEV_MAX_DEVICES> gl_DevInfo{};
int g_count = 0;
std::mutex g_table_mutex;

// Init and close run one at a time.
std::mutex g_control_mutex;
std::atomic<bool> g_initialised{false};
bool g_ever_initialised = false;
std::atomic<bool> g_quit{false};

Event g_start;  // requester: start a polling pass
Event g_stop;   // requester: stop polling; also the worker's pause
Event g_done1;  // worker: a device has input, or a single pass found nothing
Event g_done2;  // worker: stopped and idle again

// The handshake assumes a single requester; concurrent callers queue here.
std::mutex g_requester_mutex;
std::atomic<int> g_mask{0};
std::atomic<bool> g_single_pass{false};
std::atomic<int> g_found_type{0};
std::atomic<int> g_found_index{-1};

std::atomic<int (*)(const void*)> g_mc_kind{nullptr};
std::atomic<dev_poll_fn> g_mc_event{nullptr};
std::atomic<dev_poll_fn> g_mc_mwi{nullptr};
std::atomic<dev_poll_fn> g_can_poll{nullptr};

void close_events() {
  for (Event* e : {&g_start, &g_stop, &g_done1, &g_done2}) e->close();
}

// The worker thread. A program that never calls dev_close_cntrl still
// stops it at exit, before the events it waits on are destroyed (this
// object is defined after them, so it goes first).
struct WorkerThread {
  std::thread thread;
  WorkerThread() = default;
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;
  ~WorkerThread() {
    if (!thread.joinable()) return;
    g_quit = true;
    close_events();
    thread.join();
  }
};
WorkerThread g_worker;

// ---- poll functions

// Input counts only on a clean line: a byte after a framing or overrun
// error is not worth waking the reader for; the query clears the error, so
// the next poll sees the input.
int poll_serial(dev_handle_t handle, void* /*owner*/) {
  uint32_t errors = 0;
  uint32_t waiting = 0;
  return sio_line_status(handle, &errors, &waiting) == 0 && errors == 0 && waiting > 0 ? 1 : 0;
}

// The layers above may register later than the device, so the hooks are
// looked up at each poll.
int poll_mc_event(dev_handle_t handle, void* owner) {
  dev_poll_fn fn = g_mc_event.load();
  return fn != nullptr ? fn(handle, owner) : 0;
}

int poll_mc_mwi(dev_handle_t handle, void* owner) {
  dev_poll_fn fn = g_mc_mwi.load();
  return fn != nullptr ? fn(handle, owner) : 0;
}

int poll_can(dev_handle_t handle, void* owner) {
  dev_poll_fn fn = g_can_poll.load();
  return fn != nullptr ? fn(handle, owner) : 0;
}

void reset_entry(dev_info_t& e) { e = dev_info_t{}; }

bool handle_valid(dev_handle_t handle) { return handle != DEV_INVALID_HANDLE; }

// The console check behind type 32. No console input is connected, so it
// never reports a key and names no entry.
bool console_key(int* index) {
  *index = -1;
  return false;
}

bool eligible(const dev_info_t& e, int mask) {
  return e.in_use == 1 && e.event_state == 1 && (e.dev_type & mask) != 0 && e.poll != nullptr;
}

// One polling run, from "StartEvent" until a hit, a finished single pass,
// nothing left to poll, or "StopEvent".
void poll_devices() {
  int polled = 0;
  int i = 0;
  for (;;) {
    {
      std::lock_guard lock(g_table_mutex);
      const dev_info_t& e = gl_DevInfo[i];
      if (eligible(e, g_mask.load())) {
        ++polled;
        if (e.poll(e.handle, e.owner) != 0) {
          g_found_type = e.dev_type;
          g_found_index = i;
          g_done1.set();
          return;
        }
      }
    }
    int pause = 0;
    if (++i == DEV_MAX_DEVICES) {
      if (g_single_pass.load()) {
        g_done1.set();
        return;
      }
      if (polled == 0) return;
      i = 0;
      polled = 0;
      pause = kRoundPauseMs;
    }
    const bool stopped = pause == 0 ? g_stop.is_set() : g_stop.wait_for(pause, WaitClock::host);
    if (stopped) return;
  }
}

void dev_worker() {
  for (;;) {
    g_start.wait();
    if (g_quit) return;
    g_found_type = 0;
    g_found_index = -1;
    poll_devices();
    g_stop.wait();
    if (g_quit) return;
    g_start.reset();
    g_done2.set();
  }
}

// Stops the worker (if any) and leaves the events non-signalled. Expects
// g_control_mutex held.
void stop_worker() {
  if (!g_worker.thread.joinable()) return;
  g_quit = true;
  close_events();
  g_worker.thread.join();
  // A requester caught in its handshake sees the latched events, notices
  // the table is down and leaves; only then may the events be re-armed.
  { std::lock_guard wait_for_requester(g_requester_mutex); }
  for (Event* e : {&g_start, &g_stop, &g_done1, &g_done2}) e->reopen();
  g_quit = false;
}

}  // namespace

dev_mc_hooks_t dev_set_mc_hooks(const dev_mc_hooks_t& hooks) {
  dev_mc_hooks_t old;
  old.connection_kind = g_mc_kind.exchange(hooks.connection_kind);
  old.event_signalled = g_mc_event.exchange(hooks.event_signalled);
  old.has_event_mwi = g_mc_mwi.exchange(hooks.has_event_mwi);
  return old;
}

dev_poll_fn dev_set_can_poll_fn(dev_poll_fn fn) { return g_can_poll.exchange(fn); }

int dev_init_cntrl(uint8_t force) {
  std::lock_guard control(g_control_mutex);
  if (g_initialised && force == 0) return 0;
  if (force != 0 || !g_ever_initialised) {
    std::lock_guard lock(g_table_mutex);
    for (dev_info_t& e : gl_DevInfo) reset_entry(e);
    g_count = 0;
    g_found_type = 0;
    g_found_index = -1;
  }
  g_initialised = false;
  g_ever_initialised = true;
  if (!g_worker.thread.joinable()) {
    try {
      g_worker.thread = std::thread(dev_worker);
    } catch (const std::system_error&) {
      u_log_fn("%s failed: %s\n", "dev_init_cntrl", err_name(ERR_DEV_CNTRL));
      return ERR_DEV_CNTRL;
    }
  }
  g_initialised = true;
  return 0;
}

void dev_close_cntrl() {
  std::lock_guard control(g_control_mutex);
  g_initialised = false;
  stop_worker();
}

bool dev_type_valid(int dev_type) {
  switch (dev_type) {
    case DEV_TYPE_MC:
    case DEV_TYPE_UZ:
    case DEV_TYPE_SERIAL_1:
    case DEV_TYPE_SERIAL_2:
    case DEV_TYPE_SERIAL_3:
    case DEV_TYPE_CONSOLE:
    case DEV_TYPE_CAN: return true;
    default: u_log_fn("%s: dev_type=%d is invalid\n", "dev_type_valid", dev_type); return false;
  }
}

int dev_add_device(int dev_type, dev_handle_t handle, void* owner) {
  const auto fail = [](int err) {
    u_log_fn("%s failed: err=%s\n", "dev_add_device", err_name(err));
    return err;
  };
  if (!g_initialised || !dev_type_valid(dev_type)) return fail(ERR_DEV_CNTRL);

  dev_poll_fn poll = nullptr;
  switch (dev_type) {
    case DEV_TYPE_MC: {
      if (owner == nullptr) return fail(ERR_INVALID_PARAM);
      auto kind_of = g_mc_kind.load();
      const int kind = kind_of != nullptr ? kind_of(owner) : 0;
      if (kind == 1) {
        poll = poll_serial;
      } else if (kind == 2) {
        poll = poll_mc_event;
      } else if (kind == 3) {
        poll = poll_mc_mwi;
      } else {
        return fail(ERR_MC_NOT_AVAIL);
      }
      break;
    }
    case DEV_TYPE_CONSOLE: break;
    case DEV_TYPE_CAN: poll = poll_can; break;
    default: poll = poll_serial; break;
  }

  std::lock_guard lock(g_table_mutex);
  dev_info_t* free_entry = nullptr;
  if (g_count < DEV_MAX_DEVICES) {
    for (dev_info_t& e : gl_DevInfo) {
      if (e.in_use == -1) {
        free_entry = &e;
        break;
      }
    }
  }
  if (free_entry == nullptr) {
    u_log_fn("gl_DevInfo table is full\n");
    return fail(ERR_DEV_CNTRL);
  }
  // A handle already in the table is not looked for: a device may be
  // registered twice, and each removal frees one entry.
  *free_entry = dev_info_t{handle, 1, dev_type, 1, poll, owner};
  ++g_count;
  return 0;
}

int dev_remove_device(dev_handle_t handle) {
  const auto fail = [](int err) {
    u_log_fn("%s failed: err=%s\n", "dev_remove_device", err_name(err));
    return err;
  };
  if (!g_initialised) return fail(ERR_DEV_CNTRL);
  if (!handle_valid(handle)) return fail(ERR_INVALID_PARAM);
  std::lock_guard lock(g_table_mutex);
  if (g_count == 0) return fail(ERR_PARAM_OUT_OF_RANGE);
  for (int i = 0; i < DEV_MAX_DEVICES; ++i) {
    if (gl_DevInfo[i].in_use == 1 && gl_DevInfo[i].handle == handle) {
      reset_entry(gl_DevInfo[i]);
      --g_count;
      if (g_found_index == i) {
        g_found_index = -1;
        g_found_type = 0;
      }
      return 0;
    }
  }
  return fail(ERR_PARAM_OUT_OF_RANGE);
}

bool dev_is_registered(dev_handle_t handle) {
  if (!g_initialised || !handle_valid(handle)) return false;
  std::lock_guard lock(g_table_mutex);
  if (g_count <= 0) return false;
  for (const dev_info_t& e : gl_DevInfo) {
    if (e.in_use == 1 && e.handle == handle) return true;
  }
  return false;
}

int dev_set_event_state(dev_handle_t handle, int state) {
  const auto fail = [](int err) {
    u_log_fn("%s failed: err=%s\n", "dev_set_event_state", err_name(err));
    return err;
  };
  if (!g_initialised) return fail(ERR_DEV_CNTRL);
  if (!handle_valid(handle) || (state != 0 && state != 1)) return fail(ERR_INVALID_PARAM);
  std::lock_guard lock(g_table_mutex);
  for (dev_info_t& e : gl_DevInfo) {
    if (e.in_use == 1 && e.handle == handle) {
      e.event_state = state;
      return 0;
    }
  }
  return fail(ERR_PARAM_OUT_OF_RANGE);
}

bool dev_get_entry(int index, dev_info_t* entry) {
  if (index < 0 || index >= DEV_MAX_DEVICES || entry == nullptr) return false;
  std::lock_guard lock(g_table_mutex);
  *entry = gl_DevInfo[index];
  return true;
}

int dev_data_read(int type_mask, dev_info_t* result, uint8_t wait) {
  std::lock_guard requester(g_requester_mutex);
  g_found_type = 0;
  g_found_index = -1;
  const auto fail = [] {
    u_log_fn("%s: %s\n", "dev_data_read", err_name(ERR_DEV_CNTRL));
    return 0;
  };
  if (!g_initialised) return fail();
  if (type_mask != DEV_MASK_ALL && !dev_type_valid(type_mask)) return fail();

  const bool console_active = (type_mask & DEV_TYPE_CONSOLE) != 0;
  g_mask = type_mask;
  for (;;) {
    int console_index = -1;
    bool key = console_active && console_key(&console_index);
    bool done1 = false;
    if (!key) {
      g_done1.reset();
      g_done2.reset();
      g_stop.reset();
      g_single_pass = wait == 0;
      g_start.set();
      done1 = g_done1.wait_for(kRequestWaitMs, WaitClock::host);
      g_stop.set();
      g_done2.wait();
      // Closed meanwhile: the events are latched and the worker is gone.
      if (!g_initialised) return fail();
    }
    if (done1) {
      std::lock_guard lock(g_table_mutex);
      const int index = g_found_index;
      if (g_found_type != 0 && index >= 0) {
        const dev_info_t& e = gl_DevInfo[index];
        if (result != nullptr) {
          *result = dev_info_t{};
          result->handle = e.handle;
          result->in_use = e.in_use;
          result->dev_type = e.dev_type;
          result->owner = e.owner;
        }
        return g_found_type;
      }
    }
    if (key || (console_active && console_key(&console_index))) {
      std::lock_guard lock(g_table_mutex);
      if (result != nullptr && console_index >= 0) {
        const dev_info_t& e = gl_DevInfo[console_index];
        *result = dev_info_t{};
        result->handle = e.handle;
        result->in_use = e.in_use;
        result->dev_type = e.dev_type;
        result->owner = e.owner;
      }
      return DEV_TYPE_CONSOLE;
    }
    if (wait == 0) return DEV_NO_INPUT;
  }
}
