/* The control functions of the stand-in bridge library TrelCANopen, in C:
 * the same simulation as cansim:: in can_sim.h, for host programs and tests
 * that load the library at run time and look these up by name. Each one
 * stands for the cansim:: function of the same name (see can_sim.h);
 * results that are vectors there are copied into the caller's array here.
 *
 * A program that calls none of these gets the network named by the
 * environment variable FELBRIN_CANSIM (for example
 * "fjord:00-1A-2B-3C-4D-5E") when it first calls a CAN_ operation. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "instrument/can/can_abi.h"

#ifdef __cplusplus
extern "C" {
#endif

void cansim_reset(void);
int cansim_preset(const char* text); /* 1 done, 0 not readable */
int cansim_preset_from_environment(void);
void cansim_add_bridge(const uint8_t ip[4], const uint8_t mac[6], uint8_t firmware_major,
                       uint8_t firmware_minor, uint8_t config_a, uint32_t config_b);
int cansim_add_node(uint8_t node, const char* kind, uint32_t product_id);
void cansim_remove_node(uint8_t node);
void cansim_reboot_node(uint8_t node, int polls);
void cansim_set_operational_after(uint8_t node, int polls);
int cansim_set_value(uint8_t node, uint16_t index, uint8_t sub, const uint8_t* bytes, size_t count);
/* The entry's size (0: no such entry); at most `capacity` bytes copied. */
size_t cansim_value(uint8_t node, uint16_t index, uint8_t sub, uint8_t* out, size_t capacity);
int cansim_set_option(uint8_t node, const char* name, int32_t value);
void cansim_move(uint8_t node, const char* what, int position);
void cansim_set_abort(uint8_t node, uint16_t index, uint8_t sub, uint32_t abort_code);
void cansim_set_reply_delay(uint8_t node, uint16_t index, uint8_t sub, uint32_t delay_ms);
void cansim_drop_frame(int n);
void cansim_bus_off(void);
void cansim_script_bridge_errors(const int32_t* errors, int count);
void cansim_override_enumerate_count(int32_t count);
void cansim_clear_enumerate_override(void);
void cansim_fail_next(const char* operation, int32_t status);
void cansim_fail_get_pdo(int k);
void cansim_inject_pdo(uint32_t cob_id, const uint8_t* data, size_t count);
void cansim_inject_emcy(uint32_t value1, uint32_t value2, const uint8_t block[CAN_EMCY_BLOCK_SIZE],
                        uint8_t value3);
int cansim_wait_delivered(int timeout_ms);
/* Lines of the call log; the i-th copied (cut, terminated) into `out`.
 * Returns the line's full length, or -1 past the end. */
int cansim_call_log_count(void);
int cansim_call_log_line(int i, char* out, size_t capacity);
void cansim_clear_call_log(void);
int cansim_call_count(const char* operation);
/* The registered COB-IDs, at most `capacity` of them; returns how many there are. */
int cansim_registered_cob_ids(uint32_t* out, int capacity);
int64_t cansim_now_ms(void);
void cansim_set_clock(int64_t (*now_ms)(void));

#ifdef __cplusplus
}
#endif
