/* Value displays of the run-time engine's library types: a colour as its
 * three components, a time as a date text, a lock as its holder, a queue as
 * its elements, a TCP conversation as its peer, an instrument session as its
 * resource name.
 *
 * The debugger finds this unit's table __qex_smart_types by name, runs a
 * display on a thread it holds at a stoppoint and reads the answer from the
 * one "@{smart_type|%p:12}@" message the display sends. Rules kept by every
 * display:
 *   - the engine's break-on switches are off while the value is inspected and
 *     are put back as they were on every way out;
 *   - a value that cannot be obtained gets no message at all, nor does a
 *     variable whose memory cannot be read (a fault would leave the switches
 *     off);
 *   - a text is written into the display's own static buffer, whose address
 *     is the answer, so it stays readable after the display returns (the
 *     debugger runs one display at a time and reads the text before the next).
 *
 * The VISA library is used only when the process has already loaded it. A
 * time that the engine's ctime cannot convert gets no answer, like any other
 * value that cannot be obtained. */
#include <windows.h>
#include <stdio.h>
#include "debug_support.h"
#include "qex_rte.h"
#include "smart_type_display.h"
#include "smart_types.h"

extern "C" {

/* Marks this unit as hidden from the debugger's source view. */
[[maybe_unused]] __attribute__((used)) static void __qex_hide_this_file(void) {}

#define QEX_SMART_TYPE_FUNCTION(f) reinterpret_cast<const void *>(&f)

/* The rows the debugger reads, type by type. */
__attribute__((used)) static const __qex_smart_type_t __qex_smart_types[] __asm__("__qex_smart_types") = {
    {QEX_SMART_TYPE_NAME, "__qex_smart_type_RGBColor", 26},
    {QEX_SMART_TYPE_DESCRIPTION, "RGB Color", 10},
    {QEX_SMART_TYPE_INDEX, QEX_SMART_TYPE_FUNCTION(__qex_smart_type_RGBColor_index), 0},
    {QEX_SMART_TYPE_MEMBER, nullptr, 0},
    {QEX_SMART_TYPE_MEMBER_NAME, "red", 4},
    {QEX_SMART_TYPE_MEMBER_TYPE, "unsigned char", 14},
    {QEX_SMART_TYPE_MEMBER, nullptr, 1},
    {QEX_SMART_TYPE_MEMBER_NAME, "green", 6},
    {QEX_SMART_TYPE_MEMBER_TYPE, "unsigned char", 14},
    {QEX_SMART_TYPE_MEMBER, nullptr, 2},
    {QEX_SMART_TYPE_MEMBER_NAME, "blue", 5},
    {QEX_SMART_TYPE_MEMBER_TYPE, "unsigned char", 14},
    {QEX_SMART_TYPE_PRINT, QEX_SMART_TYPE_FUNCTION(__qex_smart_type_RGBColor_print), 0},
    {QEX_SMART_TYPE_NAME, "time_t", 7},
    {QEX_SMART_TYPE_DESCRIPTION, "Time (ANSI C Library)", 22},
    {QEX_SMART_TYPE_PRINT, QEX_SMART_TYPE_FUNCTION(__qex_smart_type_time_t_print), 0},
    {QEX_SMART_TYPE_NAME, "CmtThreadLockHandle", 20},
    {QEX_SMART_TYPE_DESCRIPTION, "Thread Lock Handle", 19},
    {QEX_SMART_TYPE_PRINT, QEX_SMART_TYPE_FUNCTION(__qex_smart_type_CmtThreadLockHandle_print), 0},
    {QEX_SMART_TYPE_NAME, "CmtTSQHandle", 13},
    {QEX_SMART_TYPE_DESCRIPTION, "Thread-Safe Queue Handle", 25},
    {QEX_SMART_TYPE_PRINT, QEX_SMART_TYPE_FUNCTION(__qex_smart_type_CmtTSQHandle_print), 0},
    {QEX_SMART_TYPE_COUNT, QEX_SMART_TYPE_FUNCTION(__qex_smart_type_CmtTSQHandle_count), 0},
    {QEX_SMART_TYPE_INDEX, QEX_SMART_TYPE_FUNCTION(__qex_smart_type_CmtTSQHandle_index), 0},
    {QEX_SMART_TYPE_NAME, "__qex_smart_type_TCPHandle", 27},
    {QEX_SMART_TYPE_DESCRIPTION, "TCP Conversation Handle", 24},
    {QEX_SMART_TYPE_PRINT, QEX_SMART_TYPE_FUNCTION(__qex_smart_type_TCPHandle_print), 0},
    {QEX_SMART_TYPE_NAME, "ViSession", 10},
    {QEX_SMART_TYPE_DESCRIPTION, "VISA Instrument Session Handle", 31},
    {QEX_SMART_TYPE_PRINT, QEX_SMART_TYPE_FUNCTION(__qex_smart_type_ViSession_print), 0},
};

#undef QEX_SMART_TYPE_FUNCTION

} // extern "C"

namespace {

using smart_types::DebugSwitchesOff;
using smart_types::readable;
using smart_types::send_answer;

/* Engine attributes the displays ask for. */
constexpr int kLockHoldingThread = 1;
constexpr int kQueueCapacity = 3;
constexpr int kQueueItemSize = 4;
constexpr int kQueueItemCount = 5;
/* Passed as the last argument of every queue attribute query. */
constexpr int kQueueQueryArgument = 500;

/* The VISA standard's resource-name attribute and its success status. */
constexpr uint32_t kVisaResourceName = 0xBFFF0002u;
constexpr int32_t kVisaSuccess = 0;
using ViGetAttributeFunction = int32_t (*)(uint32_t session, uint32_t attribute, void *state);

/* The TCP peer texts are asked for in buffers of this size; the shown text
 * holds a name, " [", an address and "]". */
constexpr size_t kPeerTextSize = 128;

char g_color_text[256];
char g_time_text[256];
char g_lock_text[256];
char g_queue_text[128];
char g_tcp_text[259];
char g_session_text[256];
const char kNotHeld[] = "Not held";

/* Reads one of the queue's pointer-sized attributes; false when the engine refuses. */
bool queue_attribute(intptr_t queue, int attribute, size_t &value)
{
    value = 0;
    return CmtGetTSQAttributeEx(queue, attribute, &value, kQueueQueryArgument) >= 0;
}

/* The address of element `index` of the queue, or null: the elements lie
 * from the read pointer up to the end of the queue's storage, and the rest
 * wraps around to the storage's start, capacity items before the end. */
const void *queue_element(intptr_t queue, intptr_t index)
{
    if (index < 0) return nullptr;
    size_t count = 0, item_size = 0;
    if (!queue_attribute(queue, kQueueItemCount, count) || static_cast<size_t>(index) >= count) return nullptr;
    if (!queue_attribute(queue, kQueueItemSize, item_size)) return nullptr;
    void *read_pointer = nullptr;
    int readable = 0;
    if (CmtGetTSQReadPtr(queue, &read_pointer, &readable) < 0) return nullptr;
    if (CmtReleaseTSQReadPtr(queue, 0) < 0) return nullptr;
    auto base = reinterpret_cast<uintptr_t>(read_pointer);
    if (index < readable) return reinterpret_cast<const void *>(base + static_cast<size_t>(index) * item_size);
    size_t capacity = 0;
    if (!queue_attribute(queue, kQueueCapacity, capacity)) return nullptr;
    base -= item_size * (capacity - static_cast<size_t>(readable));
    size_t wrapped = static_cast<size_t>(index) - static_cast<size_t>(readable);
    return reinterpret_cast<const void *>(base + wrapped * item_size);
}

} // namespace

extern "C" void __qex_smart_type_default_types(void) {}

extern "C" void __qex_smart_type_RGBColor_print(const __qex_smart_type_RGBColor *color)
{
    DebugSwitchesOff quiet;
    if (!readable(color)) return;
    auto bytes = reinterpret_cast<const unsigned char *>(color);
    snprintf(g_color_text, sizeof g_color_text, "Red: %u  Green: %u  Blue: %u", unsigned{bytes[2]},
             unsigned{bytes[1]}, unsigned{bytes[0]});
    send_answer(g_color_text);
}

/* Member 0 is red (byte 2), 1 green (byte 1), 2 blue (byte 0); the debugger
 * asks only for the members the table lists, so the index is not checked. */
extern "C" void __qex_smart_type_RGBColor_index(const __qex_smart_type_RGBColor *color, intptr_t index)
{
    DebugSwitchesOff quiet;
    send_answer(reinterpret_cast<const unsigned char *>(color) + 2 - index);
}

extern "C" void __qex_smart_type_time_t_print(const int64_t *time)
{
    DebugSwitchesOff quiet;
    if (!readable(time)) return;
    const char *text = qex_rte_ctime(time);
    if (!text) return;
    lstrcpynA(g_time_text, text, sizeof g_time_text);
    for (char *c = g_time_text; *c; ++c)
        if (*c == '\n') {
            *c = 0;
            break;
        }
    send_answer(g_time_text);
}

/* The engine's lock handles are ints carried in a pointer-sized variable. */
extern "C" void __qex_smart_type_CmtThreadLockHandle_print(const intptr_t *lock)
{
    DebugSwitchesOff quiet;
    unsigned int holder = 0;
    if (!readable(lock)) return;
    if (CmtGetLockAttribute(static_cast<CmtThreadLockHandle>(*lock), kLockHoldingThread, &holder) < 0) return;
    if (holder == 0) {
        send_answer(kNotHeld);
        return;
    }
    snprintf(g_lock_text, sizeof g_lock_text, "Held by thread 0x%x", holder);
    send_answer(g_lock_text);
}

extern "C" void __qex_smart_type_CmtTSQHandle_print(const intptr_t *queue)
{
    DebugSwitchesOff quiet;
    size_t count = 0;
    if (!readable(queue) || !queue_attribute(*queue, kQueueItemCount, count)) return;
    snprintf(g_queue_text, sizeof g_queue_text, "[%zu elements]", count);
    send_answer(g_queue_text);
}

extern "C" void __qex_smart_type_CmtTSQHandle_count(const intptr_t *queue)
{
    DebugSwitchesOff quiet;
    size_t count = 0;
    if (readable(queue) && queue_attribute(*queue, kQueueItemCount, count)) send_answer(count);
}

extern "C" void __qex_smart_type_CmtTSQHandle_index(const intptr_t *queue, intptr_t index)
{
    DebugSwitchesOff quiet;
    if (!readable(queue)) return;
    if (const void *element = queue_element(*queue, index)) send_answer(element);
}

/* "name [address]", or whichever of the two the engine knows. */
extern "C" void __qex_smart_type_TCPHandle_print(const __qex_smart_type_TCPHandle *conversation)
{
    DebugSwitchesOff quiet;
    if (!readable(conversation)) return;
    g_tcp_text[0] = 0;
    char name[kPeerTextSize] = {}, address[kPeerTextSize] = {};
    bool named = GetTCPPeerName(*conversation, name, sizeof name) >= 0;
    if (named) {
        name[sizeof name - 1] = 0;
        lstrcatA(g_tcp_text, name);
    }
    bool addressed = GetTCPPeerAddr(*conversation, address, sizeof address) >= 0;
    if (addressed) {
        address[sizeof address - 1] = 0;
        if (named) lstrcatA(g_tcp_text, " [");
        lstrcatA(g_tcp_text, address);
        if (named) lstrcatA(g_tcp_text, "]");
    }
    if (named || addressed) send_answer(g_tcp_text);
}

/* The session's resource name from an already loaded VISA library, else its number. */
extern "C" void __qex_smart_type_ViSession_print(const uint32_t *session)
{
    DebugSwitchesOff quiet;
    if (!readable(session)) return;
    uint32_t number = *session;
    bool named = false;
    if (HMODULE visa = GetModuleHandleA("visa64.dll")) {
        auto get_attribute =
            reinterpret_cast<ViGetAttributeFunction>(reinterpret_cast<void *>(GetProcAddress(visa, "viGetAttribute")));
        if (get_attribute) {
            named = get_attribute(number, kVisaResourceName, g_session_text) == kVisaSuccess;
            g_session_text[sizeof g_session_text - 1] = 0;
        }
    }
    if (!named) snprintf(g_session_text, sizeof g_session_text, "%u", number);
    send_answer(g_session_text);
}
