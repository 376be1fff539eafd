#include "instrument/acquisition/acq_grab.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/errors.h"
#include "common/hooks.h"
#include "instrument/acquisition/acq_internal.h"
#include "instrument/acquisition/acq_mgr.h"
#include "instrument/record/sys_info.h"

namespace {

using felbrin::acq::table;

// The library's error number for "Timed Out Waiting for Frames": the frame
// is not there yet, which a grab waits out.
constexpr int kLibraryTimedOut = 16;
// The pause between two reads of a frame that is not there yet.
constexpr int kPollMs = 5;

int fail(const char* call, int code) {
  u_log_fn("%s failed: %s\n", call, err_name(code));
  return code;
}

// The library's error for a refused call (logged by acq_last_error), or
// `otherwise` when it names none.
int library_error(const char* call, int otherwise) {
  const int code = acq_last_error();
  return fail(call, code != 0 ? code : otherwise);
}

struct Geometry {
  int32_t width = 0, height = 0, bytes_per_pixel = 0;
  std::size_t pixels() const {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  }
  std::size_t bytes() const { return pixels() * static_cast<std::size_t>(bytes_per_pixel); }
};

// The current mode's frame (the first mode when none is current), selected
// in the library again: a library opened anew has no selection.
int current_geometry(sysInfo_t* s, Geometry& g, const char* caller) {
  if (table() == nullptr) return fail(caller, ERR_ACQ_INIT_DEV);
  if (const int rc = acq_select_mode(s, std::max(s->acq.currentMode, 0))) return rc;
  const acq_mode_t& mode = s->acq.modes[s->acq.currentMode];
  g = {mode.userWidth, mode.userHeight, mode.bytesPerPixel};
  if (g.width <= 0 || g.height <= 0 || g.bytes_per_pixel < 1 || g.bytes_per_pixel > 2)
    return fail(caller, ERR_ACQ_INVALID_MODE);
  return 0;
}

// Reads one frame of `bytes` into `buffer`, waiting out the library's
// "not there yet" for at most `timeout_ms`.
int read_frame(void* buffer, std::size_t bytes, int timeout_ms, const char* caller) {
  const fx_acq_table_t* fx = table();
  const int64_t start = u_ticks_ms();
  for (;;) {
    if (fx->ReadDevice(buffer, static_cast<int>(bytes)) != 0) return 0;
    if (fx->GetLastAcqError() != kLibraryTimedOut || u_ticks_ms() - start >= timeout_ms)
      return library_error(caller, ERR_ACQ_READ);
    if (u_poll_pause(kPollMs) != 0) return fail(caller, ERR_FELBRIN_ABORTED);
  }
}

// 8-bit pixels, widened in place from the front half of the buffer.
void widen(uint16_t* pixels, std::size_t count) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(pixels);
  for (std::size_t i = count; i-- > 0;) pixels[i] = bytes[i];
}

// ---- the live mode

struct Live {
  std::thread thread;
  std::atomic<bool> stop{false};
  bool running = false;
  sysInfo_t* record = nullptr;  // whose live flag and size the mode set
  Geometry geometry;
  // Guarded by the library's frame-copy guard.
  std::vector<uint16_t> newest;
  uint64_t serial = 0;
  int error = 0;
};
Live& live() {
  static Live l;
  return l;
}

void live_loop(Live& l) {
  std::vector<uint16_t> frame(l.geometry.pixels());
  const fx_acq_table_t* fx = table();
  std::mutex* guard = felbrin::acq::frame_copy_guard();
  int error = 0;
  while (!l.stop.load()) {
    if (fx->ReadDevice(frame.data(), static_cast<int>(l.geometry.bytes())) == 0) {
      if (fx->GetLastAcqError() == kLibraryTimedOut) {
        if (u_poll_pause(kPollMs) != 0) error = fail("acq_live", ERR_FELBRIN_ABORTED);
        if (error == 0) continue;
      } else {
        error = library_error("acq_live", ERR_ACQ_READ);
      }
      std::lock_guard hold(*guard);
      l.error = error;
      return;
    }
    if (l.geometry.bytes_per_pixel == 1) widen(frame.data(), frame.size());
    std::lock_guard hold(*guard);
    l.newest.swap(frame);
    ++l.serial;
  }
}

}  // namespace

std::mutex& felbrin::acq::use_guard() {
  static std::mutex guard;
  return guard;
}

int acq_select_mode(sysInfo_t* s, int mode_index) {
  if (s == nullptr) return ERR_INVALID_PARAM;
  const fx_acq_table_t* fx = table();
  if (fx == nullptr) return fail("acq_select_mode", ERR_ACQ_INIT_DEV);
  sb_acq_state_t& a = s->acq;
  if (mode_index < 0 || mode_index >= a.modeCount || a.deviceCount < 1)
    return fail("acq_select_mode", ERR_ACQ_INVALID_MODE);
  const acq_mode_t& mode = a.modes[mode_index];
  if (fx->SetCurrentAcqDevice(a.deviceIds[0]) == 0 ||
      fx->SetCurrentInputDevice(a.primaryInput) == 0)
    return library_error("acq_select_mode", ERR_ACQ_INVALID_DEVICE);
  if (fx->SetCurrentInputMode(mode.id) == 0)
    return library_error("acq_select_mode", ERR_ACQ_INVALID_MODE);
  a.currentMode = mode_index;
  a.cameraWidth = mode.userWidth;
  a.cameraHeight = mode.userHeight;
  a.grabRate = mode.dataRate;
  // The tuning check of the wave monitor divides by the camera's frame
  // rate: the mode's, unless the host set its own.
  double& rate = s->waveMonitor.frameRate;
  if (rate == 0 || a.frameRateFromMode) {
    rate = mode.dataRate;
    a.frameRateFromMode = true;
  }
  return 0;
}

int acq_grab(sysInfo_t* s, int frames, mx_bkt16_t* out, int timeout_ms) {
  if (s == nullptr || out == nullptr || frames < 1 || frames > INT16_MAX) {
    mx_bkt16_release(out);
    return ERR_INVALID_PARAM;
  }
  const std::lock_guard in_use(felbrin::acq::use_guard());
  if (live().running) {
    mx_bkt16_release(out);
    return fail("acq_grab", ERR_ACQ_DEVICE_BUSY);
  }
  Geometry g;
  if (const int rc = current_geometry(s, g, "acq_grab")) {
    mx_bkt16_release(out);
    return rc;
  }
  // A matrix that holds frames of this size already is filled again: a
  // host grabbing round after round keeps its pages.
  const wn_window_t window{0, 0, static_cast<int16_t>(g.width), static_cast<int16_t>(g.height)};
  const bool reuse = out->matrix != nullptr && out->n_buckets == frames &&
                     std::memcmp(&out->window, &window, sizeof window) == 0 &&
                     out->size == static_cast<int64_t>(g.pixels()) * frames;
  if (!reuse) {
    mx_bkt16_release(out);
    out->window = window;
    out->n_buckets = static_cast<int16_t>(frames);
    if (const int rc = mx_bkt16_alloc(out)) return fail("acq_grab", rc);
  }

  const fx_acq_table_t* fx = table();
  int rc = 0;
  if (fx->OpenDevice() == 0) {
    rc = library_error("OpenDevice", ERR_ACQ_DEVICE_OPEN);
  } else {
    if (fx->AcquireStart(frames) == 0) {
      rc = library_error("AcquireStart", ERR_ACQ_CMD);
    } else {
      for (int k = 0; rc == 0 && k < frames; ++k) {
        uint16_t* frame = out->matrix + static_cast<std::size_t>(k) * g.pixels();
        rc = read_frame(frame, g.bytes(), timeout_ms, "acq_grab");
        if (rc == 0 && g.bytes_per_pixel == 1) widen(frame, g.pixels());
      }
      fx->AcquireStop();
    }
    fx->CloseDevice();
  }
  if (rc != 0) mx_bkt16_release(out);
  return rc;
}

int acq_live_start(sysInfo_t* s) {
  if (s == nullptr) return ERR_INVALID_PARAM;
  Live& l = live();
  const std::lock_guard in_use(felbrin::acq::use_guard());
  if (l.running) return fail("acq_live_start", ERR_ACQ_DEVICE_BUSY);
  Geometry g;
  if (const int rc = current_geometry(s, g, "acq_live_start")) return rc;
  const fx_acq_table_t* fx = table();
  if (fx->OpenDevice() == 0) return library_error("OpenDevice", ERR_ACQ_DEVICE_OPEN);
  if (fx->AcquireStart(0) == 0) {
    const int rc = library_error("AcquireStart", ERR_ACQ_CMD);
    fx->CloseDevice();
    return rc;
  }
  {
    std::lock_guard hold(*felbrin::acq::frame_copy_guard());
    l.geometry = g;
    l.newest.assign(g.pixels(), 0);
    l.serial = 0;
    l.error = 0;
  }
  l.stop = false;
  try {
    l.thread = std::thread(live_loop, std::ref(l));
  } catch (const std::exception&) {
    fx->AcquireStop();
    fx->CloseDevice();
    std::lock_guard hold(*felbrin::acq::frame_copy_guard());
    l.newest.clear();
    return fail("acq_live_start", ERR_INTERNAL_FB);
  }
  l.running = true;
  // The record's live settings, which the gain control's thread reads (as
  // it reads them: atomically).
  l.record = s;
  s->acq.liveWidth = g.width;
  s->acq.liveHeight = g.height;
  s->acq.liveSubSample = 1;
  std::atomic_ref<uint8_t>(s->acq.liveDisplay).store(1);
  return 0;
}

int acq_live_copy(uint16_t* pixels, int64_t count, uint64_t* serial) {
  if (pixels == nullptr) return ERR_INVALID_PARAM;
  Live& l = live();
  std::mutex* guard = felbrin::acq::frame_copy_guard();
  if (guard == nullptr) return ERR_ACQ_DEVICE_CLOSE;
  std::lock_guard hold(*guard);
  if (l.newest.empty()) return ERR_ACQ_DEVICE_CLOSE;
  if (l.error != 0) return l.error;
  if (l.serial == 0) return ERR_ACQ_TIMEOUT;
  if (count != static_cast<int64_t>(l.newest.size())) return ERR_INVALID_PARAM;
  std::memcpy(pixels, l.newest.data(), l.newest.size() * sizeof(uint16_t));
  if (serial != nullptr) *serial = l.serial;
  return 0;
}

int acq_live_stop() {
  Live& l = live();
  const std::lock_guard in_use(felbrin::acq::use_guard());
  if (!l.running) return 0;
  l.stop = true;
  l.thread.join();
  l.running = false;
  if (l.record != nullptr) std::atomic_ref<uint8_t>(l.record->acq.liveDisplay).store(0);
  l.record = nullptr;
  if (const fx_acq_table_t* fx = table()) {
    fx->AcquireStop();
    fx->CloseDevice();
  }
  std::lock_guard hold(*felbrin::acq::frame_copy_guard());
  const int error = l.error;
  l.newest.clear();
  l.error = 0;
  return error;
}

int cam_bad_correct_frame(uint16_t* frame, int32_t width, int32_t height,
                          const mx_xyv_list_t* bad) {
  if (frame == nullptr || bad == nullptr || width < 0 || height < 0) return -1;
  const auto listed = [&](int32_t x, int32_t y) {
    for (int32_t i = 0; i < bad->count; ++i)
      if (bad->data[i].x == x && bad->data[i].y == y) return true;
    return false;
  };
  const auto at = [&](int32_t x, int32_t y) -> uint16_t& {
    return frame[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                 static_cast<std::size_t>(x)];
  };
  int changed = 0;
  for (int32_t i = 0; i < bad->count; ++i) {
    const int32_t x = bad->data[i].x, y = bad->data[i].y;
    if (x < 0 || y < 0 || x >= width || y >= height) continue;
    uint32_t sum = 0, n = 0;
    for (int32_t dy = -1; dy <= 1; ++dy) {
      for (int32_t dx = -1; dx <= 1; ++dx) {
        const int32_t nx = x + dx, ny = y + dy;
        if ((dx == 0 && dy == 0) || nx < 0 || ny < 0 || nx >= width || ny >= height ||
            listed(nx, ny))
          continue;
        sum += at(nx, ny);
        ++n;
      }
    }
    if (n == 0) continue;
    const auto mean = static_cast<uint16_t>(sum / n);
    if (at(x, y) != mean) ++changed;
    at(x, y) = mean;
  }
  return changed;
}

int cam_bad_correct(const sysInfo_t* s, mx_bkt16_t* frames) {
  if (s == nullptr || frames == nullptr || frames->matrix == nullptr) return ERR_INVALID_PARAM;
  const sb_acq_state_t& a = s->acq;
  if (!a.camBad || a.camBadCount <= 0) return fail("cam_bad_correct", ERR_CB_FILE_INVALID);
  const auto under = [](int32_t u) { return u > 0 ? u : 1; };
  const cam_bad_entry_t* entry = nullptr;
  for (int i = 0; i < a.camBadCount && entry == nullptr; ++i) {
    const cam_bad_entry_t& e = a.camBad.get()[i];
    if (e.grabMode == a.grabMode && under(e.grabUnder) == under(a.grabUnder) &&
        e.sizeX == frames->window.width && e.sizeY == frames->window.height &&
        e.grabRate == a.grabRate)
      entry = &e;
  }
  if (entry == nullptr) return fail("cam_bad_correct", ERR_CB_FILE_INVALID);
  const std::size_t pixels = static_cast<std::size_t>(frames->window.width) *
                             static_cast<std::size_t>(frames->window.height);
  for (int k = 0; k < frames->n_buckets; ++k)
    cam_bad_correct_frame(frames->matrix + static_cast<std::size_t>(k) * pixels,
                          frames->window.width, frames->window.height, &entry->badPixels);
  return 0;
}
