/* QEX_Set387PrecisionToDouble: sets the x87 precision control to a 53-bit
 * significand (double), keeping the exception masks and the rounding mode:
 * new control word = (old AND 0x0CFF) OR 0x0200. */
#include <stdint.h>
#include "cnode_startup.h"

extern "C" void QEX_Set387PrecisionToDouble(void)
{
    uint16_t control = 0;
    __asm__ volatile("fnstcw %0" : "=m"(control));
    control = static_cast<uint16_t>((control & 0x0CFFu) | 0x0200u);
    __asm__ volatile("fldcw %0" : : "m"(control));
}
