/* The node's computation on the frame's locals. */
#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The sixteen locals of the frame that the node's text reads and writes. They
 * are volatile: after an abort jump or an exception resumption the frame must
 * find the last values written, not copies cached in registers. */
typedef struct {
    volatile int32_t cap, err_code, freq, label, loss, samp, size, volt;
    volatile int32_t cap_indx, err_code_indx, err_msg_indx, freq_indx, loss_indx, samp_indx, unit_indx,
        volt_indx;
} __cnode_node_locals;

/* The 42 breakpoint bytes of the node's stoppoints; entry 0 is never used. */
extern volatile unsigned char __qex_stoppoint_table[42];

/* Runs the node's text, with a stoppoint before each of its points. */
void __cnode_node_text(__cnode_node_locals *locals);

#ifdef __cplusplus
}

/* The text itself, parameterised on what runs at a stoppoint, so that the same
 * statements can be built without stoppoints (for measuring their cost).
 * Arithmetic wraps modulo 2^32 (computed unsigned); comparisons are signed. */
namespace cnode_text {

inline int32_t add(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }
inline int32_t sub(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)); }
inline int32_t mul(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b)); }

template <typename Stop>
inline void run(__cnode_node_locals *l, Stop stop)
{
    stop(1);  if (l->freq > 0) { stop(2); l->freq = 1; }
    stop(3);  if (l->cap > 0)  { stop(4); l->cap = 1; }
    stop(5);  if (l->loss > 0) { stop(6); l->loss = 1; }
    stop(7);  l->samp_indx = add(l->label, l->err_code);
    stop(8);  l->freq_indx = add(mul(l->samp, add(l->label, 1)), l->samp_indx);
    stop(9);  l->cap_indx = add(mul(l->freq, add(mul(2, l->label), 1)), l->freq_indx);
    stop(10); l->loss_indx = add(mul(l->cap, add(mul(2, l->label), 1)), l->cap_indx);
    stop(11); l->unit_indx = add(l->loss_indx, 1);
    stop(12); l->volt_indx = add(mul(l->loss, add(mul(2, l->label), 1)), l->loss_indx);
    stop(13); l->err_msg_indx = sub(add(mul(l->volt, add(mul(2, l->label), 1)), l->volt_indx), l->label);
    stop(14);
    if (l->err_code != 0) {
        stop(15); l->err_code_indx = 0;
        stop(16); l->err_msg_indx = -1;
        stop(17);
    } else {
        stop(18); l->err_code_indx = -1;
    }
    stop(19); l->size = sub(l->size, 1);
    stop(20); if (l->samp == 0 || (stop(21), l->samp_indx > l->size)) { stop(22); l->samp_indx = -1; }
    stop(23); if (l->freq == 0 || (stop(24), l->freq_indx > l->size)) { stop(25); l->freq_indx = -1; }
    stop(26); if (l->cap == 0 || (stop(27), l->cap_indx > l->size)) { stop(28); l->cap_indx = -1; }
    stop(29); if (l->loss == 0 || (stop(30), l->loss_indx > l->size)) { stop(31); l->loss_indx = -1; }
    stop(32);
    if (l->loss == 0 || (stop(33), l->label == 0) || (stop(34), l->unit_indx > l->size)) {
        stop(35); l->unit_indx = -1;
    }
    stop(36); if (l->volt == 0 || (stop(37), l->volt_indx > l->size)) { stop(38); l->volt_indx = -1; }
    stop(39); if (l->err_code != 0 || (stop(40), l->err_msg_indx > l->size)) { stop(41); l->err_msg_indx = -1; }
}

} // namespace cnode_text
#endif
