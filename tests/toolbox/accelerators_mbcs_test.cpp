/* Accelerator escape codes under code page 932, where 0x5F ('_') is also a
 * trail byte: the scan steps by whole characters only in multibyte mode. */
#include <windows.h>
#include "cnode_startup.h"
#include "toolbox_test_support.h"

TEST(AcceleratorsMultibyte, TrailBytesAreNoUnderscores)
{
    ASSERT_EQ(GetACP(), 932u);
    const struct { const char *label; int single_byte, multibyte; } cases[] = {
        {"\x83__F", 1, -1},  /* 0x83 0x5F is one character, then a lone underscore */
        {"\x83___F", -1, 2}, /* a character, then a pair before F, not a run of three */
        {"\x82\xA0__F", 2, 2}, {"\x83", -1, -1}, /* a lead byte cut short by the NUL */
    };
    for (int mode = 0; mode <= 1; ++mode) {
        MultiByteCodePage = mode ? 932 : 0;
        for (const auto &c : cases)
            EXPECT_EQ(AcceleratorEscapeCodeLocation(c.label), mode ? c.multibyte : c.single_byte) << mode;
    }
    char label[] = "\x83___F";
    RemoveAcceleratorEscapeCode(label);
    EXPECT_STREQ(label, "\x83_F");
    MultiByteCodePage = 0;
}
