/* The control functions of the stand-in motion wrapper library, in C, with
 * their own prefix: tests load the library at run time and look these up
 * by name beside the wrapper's own table (instrument/motion/mc_mwi.h).
 *
 * A host that calls none of them gets the reset state: axes X, Y and Z
 * (0, 1, 2), nothing injected, the library's own monotonic clock.
 *
 * Every function may be called from any thread. The event thread runs
 * from the first fired event until mwisim_reset: reset before the library
 * is unloaded. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Back to the reset state; stops the event thread. */
void mwisim_reset(void);
/* The clock moves take time on (milliseconds); null: the library's own. */
void mwisim_set_clock(int64_t (*now_ms)(void));
/* Sets an axis up; letter 0 takes the axis away. `pitch` is counts per
 * user unit; travel in user units. */
void mwisim_setup_axis(int32_t axis, char letter, double pitch, double travel_min,
                       double travel_max, double travel_zero, int32_t home_type, int32_t node);
/* The next `times` calls of the named function answer `code` and do
 * nothing else (RegisterCanEvents_MWI answers it as its true/false). */
void mwisim_fail_next(const char* function, int32_t code, int32_t times);
/* A joystick that does not follow enable and disable. */
void mwisim_set_joystick_stuck(int32_t axis, int32_t stuck);
/* The text every failure reports from now on; "" gives each its own. */
void mwisim_set_error_text(const char* text);
/* The emergency stop pressed (queues an event) or released. */
void mwisim_set_estop(int32_t on);
/* Counts the actual position lags behind the commanded one. */
void mwisim_set_following_error(int32_t axis, int32_t counts);
void mwisim_queue_event(int32_t kind, int32_t value);
/* Hands an event to the library's own thread, which passes it to the
 * registered callbacks (dropped when none are registered). */
void mwisim_fire_pdo(uint32_t cob_id, uint32_t value, const uint8_t data[8]);
void mwisim_fire_emcy(uint32_t value1, uint32_t value2, uint32_t value3, uint8_t value4,
                      const uint8_t five[5], uint8_t value6);
/* Waits until every fired event was handed on: their number, or -1 when
 * `timeout_ms` passed first. */
int32_t mwisim_wait_fired(int32_t timeout_ms);
/* One line per call of the wrapper's table: its name, then the axis for
 * functions of one axis ("StopAxis_MWI 2"). The i-th line is copied, cut
 * and terminated, into `out`; returns its full length, -1 past the end. */
int32_t mwisim_call_log_count(void);
int32_t mwisim_call_log_line(int32_t i, char* out, int32_t size);
void mwisim_clear_call_log(void);
/* Calls of InitMotionWrapperInterface_MWI since the reset. */
int32_t mwisim_init_count(void);
/* The arguments of the last open; returns the number of opens. *has_mac
 * is 0 when the open got a null address. */
int32_t mwisim_last_open(char* path, int32_t size, uint8_t mac[6], int32_t* has_mac,
                         uint8_t* option8, int32_t* option32);

#ifdef __cplusplus
}
#endif
