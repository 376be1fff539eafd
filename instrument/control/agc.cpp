#include "instrument/control/agc.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "common/event.h"
#include "common/hooks.h"
#include "instrument/acquisition/acq_grab.h"
#include "instrument/can/can_events.h"
#include "instrument/can/can_nodes.h"
#include "instrument/can/can_state.h"
#include "instrument/control/agc_internal.h"
#include "instrument/record/sys_info.h"

namespace {

using felbrin::Event;
using felbrin::control::AgcDeps;
using felbrin::control::AgcFrame;

constexpr const char* kThreadName = "can_agc_thread_func";
constexpr int32_t kAgcSystems[] = {SYS_KITECAN,   SYS_ALDER4,   SYS_GLENCAN,
                                   SYS_HERON_CAN, SYS_KITE2CAN, SYS_IRIS_CAN};
constexpr int kStopBoundMs = 5000;
constexpr int kPauseStepMs = 10;
constexpr int kSettlePauseMs = 100;
constexpr int kFailedRoundsLimit = 10;
constexpr uint32_t kTopPixels = 100;
constexpr double kBand = 1.0 / 32;
constexpr double kGain = 3000;
constexpr double kDamping = 1000;
constexpr int kLlcPolls = 300;
constexpr int kLlcPollMs = 10;

// The record's fields the thread reads each round while callers may change
// them.
template <class T>
T load(T& field) {
  return std::atomic_ref<T>(field).load(std::memory_order_relaxed);
}

// A buffer from the allocation hooks.
struct HookedFree {
  void operator()(void* p) const { u_free_fn(p); }
};
template <class T>
std::unique_ptr<T[], HookedFree> hooked_array(std::size_t count) {
  // One element at least: a zero-size request may legitimately give null.
  return std::unique_ptr<T[], HookedFree>(
      static_cast<T*>(u_calloc_fn(std::max<std::size_t>(count, 1), sizeof(T))));
}

// Pauses `ms` in steps of the library's polling pause, so a test's virtual
// clock runs it and a stop ends it within one step. The abort hook has no
// say: only a stop ends the thread.
void pause_ms(const Event& stop, double ms) {
  const double bounded = std::min(ms, static_cast<double>(std::numeric_limits<int32_t>::max()));
  const int64_t deadline = u_ticks_ms() + static_cast<int64_t>(bounded);
  while (!stop.is_set()) {
    const int64_t left = deadline - u_ticks_ms();
    if (left <= 0) return;
    (void)u_poll_pause(static_cast<int>(std::min<int64_t>(left, kPauseStepMs)));
  }
}

// The thread's view of the frame it is to process, fixed at its start.
struct Geometry {
  int32_t width = 0;
  int32_t height = 0;
  int32_t bytes_per_pixel = 1;
  uint32_t bins = 2;
  int32_t sub = 1;
};

Geometry frame_geometry(sysInfo_t* s, bool live, const acq_mode_t& mode) {
  const auto& acq = s->acq;
  const int32_t sub = std::max(1, live ? acq.liveSubSample : acq.grabUnder);
  Geometry g;
  g.width = std::max(0, (live ? acq.liveWidth : acq.cameraWidth) / sub);
  g.height = std::max(0, (live ? acq.liveHeight : acq.cameraHeight) / sub);
  g.bytes_per_pixel = mode.bytesPerPixel == 1 ? 1 : 2;
  g.bins = felbrin::control::agc_bins(mode.resolution);
  g.sub = sub;
  return g;
}

// ---- the controller: its state between rounds
struct Controller {
  double c = 0;       // the level it aims at, with its fraction
  double d = 0;       // the previous error
  int k = 0;          // corrections since the last settled round
  uint16_t last = 0;  // the last level written
};

// ---- the module
struct Run {
  sysInfo_t* record = nullptr;
  std::shared_ptr<Event> stop;
  AgcDeps deps;
  std::atomic<int> result{0};
  Event done;
};

struct Module {
  std::mutex mutex;
  std::shared_ptr<Event> stop;
  std::thread thread;
  std::shared_ptr<Run> run;  // the thread's, until it is joined
  int active = 0;
  int requested = 0;
  int32_t suspend_count = 0;
  bool locked = false;
  AgcDeps deps = felbrin::control::agc_production_deps();

  Module() = default;
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  ~Module() {
    // A thread still running at exit keeps its run to itself.
    if (thread.joinable()) {
      if (run && run->stop) run->stop->set();
      thread.detach();
    }
  }
};

Module& module() {
  static Module m;
  return m;
}

bool running_locked(const Module& m) { return m.run && !m.run->done.is_set(); }

// Joins a thread that ended by itself; an error end clears the active
// setting.
void reap_locked(Module& m) {
  if (!m.run || !m.run->done.is_set()) return;
  if (m.thread.joinable()) m.thread.join();
  if (m.run->result.load() != 0) m.active = 0;
  m.run.reset();
}

void thread_main(std::shared_ptr<Run> run) {
  // Light levels this thread sets are not the user's doing: they must not
  // keep the instrument from going to sleep.
  felbrin::can::agc_running() = true;
  run->result = felbrin::control::agc_thread_body(run->record, run->stop.get(), run->deps);
  felbrin::can::agc_running() = false;
  run->done.set();
}

int start_thread_locked(Module& m, sysInfo_t* s) {
  reap_locked(m);
  if (running_locked(m)) return 0;
  if (m.stop) m.stop->reset();
  try {
    auto run = std::make_shared<Run>();
    run->record = s;
    run->stop = m.stop;
    run->deps = m.deps;
    m.thread = std::thread(thread_main, run);
    m.run = std::move(run);
  } catch (...) {
    u_log_fn("%s: Failed to create AGC thread\n", "can_agc_start_thread");
    return ERR_INTERNAL_FB;
  }
  return 0;
}

int stop_thread_locked(Module& m) {
  if (!m.run) return 0;
  if (m.run->stop) m.run->stop->set();
  if (!m.run->done.wait_for(kStopBoundMs)) {
    u_log_fn("%s: failed to stop thread within %g sec\n", "can_agc_stop_thread",
             kStopBoundMs / 1000.0);
    return ERR_INTERNAL_FB;
  }
  reap_locked(m);
  return 0;
}

// 1 forbids the AGC, 0 allows it.
int selector_state(sysInfo_t* s, const AgcDeps& deps, int* state) {
  if (s->systemType == SYS_GLENCAN && s->acq.auxMotor != 0) {
    uint8_t position = 0;
    if (const int err = deps.aux_position(s, &position))
      return err == ERR_CAN_SDO_DMD_ERROR ? ERR_CAN_SDO_AUX_MOTOR_ERROR : err;
    *state = position == 2 ? 0 : 1;
    return 0;
  }
  *state = s->acq.selector != 0 ? 0 : 1;
  return 0;
}

bool live_display(sysInfo_t* s) { return load(s->acq.liveDisplay) != 0; }

// ---- frames: the host's source, or the camera
std::atomic<decltype(agc_frame_source_t::frame)> g_frame_source{nullptr};
decltype(agc_frame_source_t::frame) frame_source() { return g_frame_source.load(); }

// The frame of the last grab, for the copy of the same round.
struct Grabbed {
  std::mutex mutex;
  mx_bkt16_t frames{};
  ~Grabbed() { mx_bkt16_release(&frames); }
};
Grabbed& grabbed() {
  static Grabbed g;
  return g;
}

int grab_one(sysInfo_t* s) {
  Grabbed& g = grabbed();
  std::lock_guard lock(g.mutex);
  return acq_grab(s, 1, &g.frames);
}

// The camera's 16-bit frame into the thread's buffer, narrowed for a 1-byte
// frame. A grab delivers whole frames while the thread expects them
// sub-sampled: then every sub-th pixel of every sub-th row.
template <class Pixel>
int fill_sampled(const felbrin::control::AgcFrame& into, const uint16_t* pixels, int32_t width,
                 int32_t sub) {
  std::vector<Pixel> sampled(static_cast<std::size_t>(into.width) *
                             static_cast<std::size_t>(into.height));
  Pixel* out = sampled.data();
  for (int32_t y = 0; y < into.height; ++y) {
    const uint16_t* row = pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(sub) *
                                       static_cast<std::size_t>(width);
    for (int32_t x = 0; x < into.width; ++x) *out++ = static_cast<Pixel>(row[x * sub]);
  }
  return felbrin::control::agc_fill_frame(into, sampled.data(), into.width, into.height,
                                          sizeof(Pixel));
}

int fill_from(const felbrin::control::AgcFrame& into, const uint16_t* pixels, int32_t width,
              int32_t height, int32_t sub) {
  if (sub == 1 && into.bytes_per_pixel == 2)
    return felbrin::control::agc_fill_frame(into, pixels, width, height, 2);
  if (width / sub != into.width || height / sub != into.height)
    return felbrin::control::kAgcFrameSizeError;
  return into.bytes_per_pixel == 2 ? fill_sampled<uint16_t>(into, pixels, width, sub)
                                   : fill_sampled<uint8_t>(into, pixels, width, sub);
}

int copy_camera_frame(bool live, const felbrin::control::AgcFrame& into) {
  if (live) {
    std::vector<uint16_t> pixels(static_cast<std::size_t>(into.width) *
                                 static_cast<std::size_t>(into.height));
    if (const int rc = acq_live_copy(pixels.data(), static_cast<int64_t>(pixels.size()), nullptr))
      return rc == ERR_INVALID_PARAM ? felbrin::control::kAgcFrameSizeError : rc;
    return fill_from(into, pixels.data(), into.width, into.height, 1);
  }
  Grabbed& g = grabbed();
  std::lock_guard lock(g.mutex);
  if (g.frames.matrix == nullptr) return ERR_ACQ_READ;
  return fill_from(into, g.frames.matrix, g.frames.window.width, g.frames.window.height,
                   std::max(1, into.sub_sample));
}

}  // namespace

void agc_set_frame_source(const agc_frame_source_t* source) {
  g_frame_source.store(source != nullptr ? source->frame : nullptr);
}

namespace felbrin::control {

int agc_fill_frame(const AgcFrame& into, const void* pixels, int32_t width, int32_t height,
                   int32_t bytes_per_pixel) {
  if (width != into.width || height != into.height || bytes_per_pixel != into.bytes_per_pixel)
    return kAgcFrameSizeError;
  const std::size_t size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                           static_cast<std::size_t>(bytes_per_pixel);
  if (size > into.bytes.size()) return kAgcFrameSizeError;
  if (size != 0) std::memcpy(into.bytes.data(), pixels, size);
  return 0;
}

AgcDeps agc_production_deps() {
  AgcDeps d;
  d.grab = [](sysInfo_t* s) { return frame_source() != nullptr ? 0 : grab_one(s); };
  d.copy = [](sysInfo_t* s, bool live, const AgcFrame& into) {
    if (const auto source = frame_source())
      return source(s, into.bytes.data(), into.width, into.height, into.bytes_per_pixel);
    // On the gain control's thread, memory running out is a failed round.
    try {
      return copy_camera_frame(live, into);
    } catch (const std::bad_alloc&) {
      return ERR_NO_MEM;
    }
  };
  d.read_level = [](sysInfo_t* s, uint16_t* level) { return can_read_ndw_llcLevel(s, level, 0); };
  d.write_level = [](sysInfo_t* s, uint16_t level) { return can_write_ndw_llcLevel(s, level, 0); };
  d.llc_wait = &ac_llc_wait;
  d.aux_position = [](sysInfo_t* s, uint8_t* position) {
    return can_read_dmd_motor2_position(s, CAN_NODE_ID_AUX_MOTOR, position);
  };
  return d;
}

AgcDeps agc_set_deps(AgcDeps deps) {
  Module& m = module();
  std::lock_guard lock(m.mutex);
  std::swap(m.deps, deps);
  return deps;
}

uint32_t agc_bins(int32_t resolution) { return uint32_t{1} << std::clamp(resolution, 1, 16); }

uint32_t agc_top_level(std::span<const uint8_t> frame, int32_t bytes_per_pixel,
                       std::span<uint32_t> hist) {
  if (hist.empty()) return 0;
  const uint32_t top = static_cast<uint32_t>(hist.size() - 1);
  std::fill(hist.begin(), hist.end(), 0u);
  const uint8_t* p = frame.data();
  if (bytes_per_pixel == 1) {
    // Four interleaved tables keep neighbouring equal pixels from waiting
    // on each other's increment; folded into the bins afterwards.
    std::array<std::array<uint32_t, 256>, 4> raw{};
    const std::size_t n = frame.size();
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
      ++raw[0][p[i]];
      ++raw[1][p[i + 1]];
      ++raw[2][p[i + 2]];
      ++raw[3][p[i + 3]];
    }
    for (; i < n; ++i) ++raw[0][p[i]];
    for (uint32_t v = 0; v < 256; ++v)
      hist[std::min(v, top)] += raw[0][v] + raw[1][v] + raw[2][v] + raw[3][v];
  } else {
    const std::size_t n = frame.size() / 2;
    std::size_t i = 0;
    uint32_t* h = hist.data();
    for (; i + 4 <= n; i += 4) {
      uint16_t v[4];
      std::memcpy(v, p + 2 * i, sizeof v);
      ++h[std::min<uint32_t>(v[0], top)];
      ++h[std::min<uint32_t>(v[1], top)];
      ++h[std::min<uint32_t>(v[2], top)];
      ++h[std::min<uint32_t>(v[3], top)];
    }
    for (; i < n; ++i) {
      uint16_t v;
      std::memcpy(&v, p + 2 * i, sizeof v);
      ++h[std::min<uint32_t>(v, top)];
    }
  }
  uint64_t counted = 0;
  for (uint32_t bin = top + 1; bin-- > 0;) {
    counted += hist[bin];
    if (counted >= kTopPixels) return bin;
  }
  return 0;
}

int agc_thread_body(sysInfo_t* s, Event* stop, const AgcDeps& deps) {
  if (stop == nullptr) {
    u_log_fn("%s: can_agc_stop_event = NULL\n", kThreadName);
    return ERR_INTERNAL_FB;
  }
  const auto& acq = s->acq;
  const int32_t mode = acq.currentMode;
  if (mode < 0 || mode >= acq.modeCount || mode >= ACQ_MAX_MODES) {
    u_log_fn("%s: invalid acquisition mode\n", kThreadName);
    return ERR_ACQ_INVALID_MODE;
  }
  const Geometry g = frame_geometry(s, live_display(s), acq.modes[mode]);
  const std::size_t bytes = static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.height) *
                            static_cast<std::size_t>(g.bytes_per_pixel);
  auto buffer = hooked_array<uint8_t>(bytes);
  if (!buffer) {
    u_log_fn("%s: Error allocating frame buffer: %s\n", kThreadName, err_name(ERR_NO_MEM));
    return ERR_NO_MEM;
  }
  auto hist = hooked_array<uint32_t>(g.bins);
  if (!hist) {
    u_log_fn("%s: Error allocating histogram: %s\n", kThreadName, err_name(ERR_NO_MEM));
    return ERR_NO_MEM;
  }
  const AgcFrame frame{std::span<uint8_t>(buffer.get(), bytes), g.width, g.height,
                       g.bytes_per_pixel, g.sub};
  uint16_t start_level = 0;
  if (const int err = deps.read_level(s, &start_level)) {
    u_log_fn("%s: Error reading ND wheel light level: %s\n", kThreadName, err_name(err));
    return err;
  }

  Controller ctl;
  ctl.c = start_level;
  ctl.last = start_level;
  int skip = 0;
  int failed_rounds = 0;
  int last_error = 0;
  // A failed round; true once there have been too many in a row.
  const auto failed = [&](int err) {
    last_error = err;
    return ++failed_rounds >= kFailedRoundsLimit;
  };

  while (!stop->is_set()) {
    const bool live = live_display(s);
    int err = 0;
    if (!live) {
      err = deps.grab(s);
      if (err != 0 && err != ERR_LOST_FRAME)
        u_log_fn("%s: Error grabbing frame: %s\n", kThreadName, err_name(err));
    }
    if (err == 0) {
      err = deps.copy(s, live, frame);
      if (err != 0 && err != ERR_LOST_FRAME)
        u_log_fn("%s: Error copying frame: %s\n", kThreadName, err_name(err));
    }
    if (stop->is_set()) break;
    if (err == ERR_LOST_FRAME) {
      if (skip == 0) skip = 1;
    } else if (err != 0) {
      if (failed(err)) return last_error;
      continue;
    }

    if (skip > 0) {
      --skip;
      const double rate = load(s->acq.grabRate);
      if (live && rate > 0) pause_ms(*stop, 1000.0 / rate);
      failed_rounds = 0;
      continue;
    }

    const uint32_t level =
        agc_top_level(frame.bytes, g.bytes_per_pixel, std::span<uint32_t>(hist.get(), g.bins));
    const double target = load(s->llcTarget);
    const double e = (level + 1.0) / g.bins - (target + 1.0) / 256.0;
    if (std::fabs(e) > kBand) {
      ++ctl.k;
      double p = kGain * e;
      double q = kGain * (e - ctl.d);
      if (ctl.k % 10 == 0) {
        if (p > kDamping) p -= kDamping;
        if (q > kDamping) q -= kDamping;
      }
      ctl.c = std::clamp(ctl.c + p + q, 0.0, 65535.0);
      ctl.d = e;
      const auto next = static_cast<uint16_t>(ctl.c);
      if (next != ctl.last) {
        err = deps.write_level(s, next);
        if (err != 0) {
          u_log_fn("%s: Error setting NDW: %s\n", kThreadName, err_name(err));
        } else {
          ctl.last = next;
          err = deps.llc_wait(s);
          if (err != 0) u_log_fn("%s: Error waiting for LLC: %s\n", kThreadName, err_name(err));
        }
        if (err != 0) {
          if (failed(err)) return last_error;
          continue;
        }
        // The next two frames may still show the old light.
        skip = 2;
        failed_rounds = 0;
        continue;
      }
    }
    pause_ms(*stop, kSettlePauseMs);
    ctl.k = 0;
    failed_rounds = 0;
  }
  return 0;
}

AgcState agc_state() {
  Module& m = module();
  std::lock_guard lock(m.mutex);
  reap_locked(m);
  AgcState st;
  st.running = running_locked(m);
  st.stop_waiters = m.run ? m.run->done.waiting() : 0;
  st.active = m.active;
  st.requested = m.requested;
  st.suspend_count = m.suspend_count;
  st.has_stop_event = m.stop != nullptr;
  return st;
}

void agc_set_suspend_count(int32_t count) {
  Module& m = module();
  std::lock_guard lock(m.mutex);
  m.suspend_count = count;
}

}  // namespace felbrin::control

bool can_agc_applies(const sysInfo_t* s) {
  if (s == nullptr || s->instrBdType != BD_CAN || s->acq.agcOption != 1) return false;
  return std::ranges::find(kAgcSystems, s->systemType) != std::end(kAgcSystems);
}

int can_agc_init() {
  Module& m = module();
  std::lock_guard lock(m.mutex);
  if (!m.stop) {
    try {
      m.stop = std::make_shared<Event>();
    } catch (const std::bad_alloc&) {
      u_log_fn("%s: Error creating event object\n", "can_agc_init");
      return ERR_INTERNAL_FB;
    }
  }
  m.active = 0;
  m.locked = false;
  m.requested = 0;
  m.suspend_count = 0;
  return 0;
}

int can_agc_start(sysInfo_t* s, int setting) {
  if (!can_agc_applies(s)) {
    u_log_fn("%s: CAN AGC is not applicable\n", "can_agc_start");
    return 0;
  }
  Module& m = module();
  std::lock_guard lock(m.mutex);
  if (m.locked) return 0;
  if (setting == 0) return ERR_INVALID_PARAM;
  int state = 1;
  if (const int err = selector_state(s, m.deps, &state)) return err;
  if (state == 1) return 0;
  reap_locked(m);
  m.requested = setting;
  if (m.suspend_count != 0 || !live_display(s)) return 0;
  m.active = setting;
  return start_thread_locked(m, s);
}

int can_agc_start_thread(sysInfo_t* s) {
  Module& m = module();
  std::lock_guard lock(m.mutex);
  return start_thread_locked(m, s);
}

int can_agc_stop_thread() {
  Module& m = module();
  std::lock_guard lock(m.mutex);
  reap_locked(m);
  return stop_thread_locked(m);
}

int can_agc_stop(sysInfo_t* s) {
  if (!can_agc_applies(s)) return 0;
  Module& m = module();
  std::lock_guard lock(m.mutex);
  reap_locked(m);
  m.active = 0;
  m.requested = 0;
  if (!running_locked(m)) return 0;
  if (const int err = stop_thread_locked(m)) return err;
  m.suspend_count = 0;
  uint16_t level = 0;
  const int err = m.deps.read_level(s, &level);
  // The record has one light-level target for both sources, but each keeps
  // the level it was left at.
  const uint8_t source = load(s->currentLightSource);
  if (err == 0 && source < std::size(s->acq.lightLevel)) s->acq.lightLevel[source] = level;
  return err;
}

int can_agc_suspend(sysInfo_t* s, int suspend) {
  if (!can_agc_applies(s)) return 0;
  Module& m = module();
  std::lock_guard lock(m.mutex);
  if (m.locked) return 0;
  reap_locked(m);
  if (suspend != 0) {
    if (m.suspend_count < std::numeric_limits<int32_t>::max()) {
      ++m.suspend_count;
      if (running_locked(m)) {
        if (const int err = stop_thread_locked(m)) return err;
        m.requested = m.active;
        m.active = 0;
      }
    }
  } else if (m.suspend_count > 0) {
    --m.suspend_count;
  }
  if (m.suspend_count == 0 && !running_locked(m) && m.requested != 0 && live_display(s)) {
    m.active = m.requested;
    return start_thread_locked(m, s);
  }
  return 0;
}

int can_agc_release() {
  Module& m = module();
  std::lock_guard lock(m.mutex);
  reap_locked(m);
  if (const int err = stop_thread_locked(m)) return err;
  m.stop.reset();
  return 0;
}

void can_agc_set_lock(int locked) {
  Module& m = module();
  std::lock_guard lock(m.mutex);
  m.locked = locked != 0;
}

int can_agc_thread_func(sysInfo_t* s) {
  std::shared_ptr<Event> stop;
  AgcDeps deps;
  {
    Module& m = module();
    std::lock_guard lock(m.mutex);
    stop = m.stop;
    deps = m.deps;
  }
  return felbrin::control::agc_thread_body(s, stop.get(), deps);
}

int ac_llc_wait(sysInfo_t* s) {
  const auto stopped = can_ndwheel_stopped_open();
  if (!stopped) return 0;
  for (int poll = 0;; ++poll) {
    can_process_events(s);
    if (stopped->is_set()) return 0;
    if (poll == kLlcPolls) return ERR_CAN_TIMEOUT;
    if (u_poll_pause(kLlcPollMs) != 0) return ERR_FELBRIN_ABORTED;
  }
}
