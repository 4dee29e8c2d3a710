/* The exception handler that every function compiled for debugging names in
 * its unwind information, and its release-build counterpart.
 *
 * A call that armed an exception continuation (__DBG_GetExceptionInfo, then
 * __DBG_SetExceptionInfo) is resumed there when a hardware exception strikes
 * in code it encloses: the handler writes the continuation's instruction,
 * stack and frame pointers and a result of 1 into the context record and lets
 * Windows continue, so __DBG_GetExceptionInfo seems to return a second time,
 * now with 1.
 *
 * Resumption happens only while Windows dispatches the exception: during an
 * unwind the handler is only told that frames are being left, and Windows
 * would not honour a changed context there. A non-continuable exception is
 * never resumed either (Windows would answer with a new exception instead).
 * A continuation whose stack pointer lies below the faulting stack pointer
 * belongs to a frame that no longer encloses the fault, and is ignored.
 *
 * Besides the instruction, stack and frame pointers, the resumed function and
 * its callers need the other non-volatile registers (rbx, rsi, rdi, r12 to
 * r15, xmm6 to xmm15) as they would be had every call made from the armed
 * function returned normally: the functions abandoned by the resumption never
 * run their epilogues. The handler therefore unwinds a copy of the faulting
 * context frame by frame, as the unwinder would, until it reaches the armed
 * function's stack pointer, and resumes with that context. */
#include <windows.h>
#include "cnode_debug.h"

namespace {

/* More frames than any call chain inside a node call has. */
constexpr int kMaxUnwoundFrames = 4096;

/* Unwinds context out of every frame below target_sp; true when it arrives
 * exactly at that stack pointer (the armed function's). */
bool unwind_to(CONTEXT &context, DWORD64 target_sp)
{
    for (int frames = 0; frames < kMaxUnwoundFrames && context.Rsp < target_sp; ++frames) {
        DWORD64 image_base = 0;
        PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &image_base, nullptr);
        if (!function) {
            /* A leaf, or a call to a bad address: the return address is on top. */
            context.Rip = *reinterpret_cast<DWORD64 *>(context.Rsp);
            context.Rsp += sizeof(DWORD64);
            continue;
        }
        void *handler_data = nullptr;
        DWORD64 establisher = 0;
        RtlVirtualUnwind(UNW_FLAG_NHANDLER, image_base, context.Rip, function, &context, &handler_data,
                         &establisher, nullptr);
    }
    return context.Rsp == target_sp;
}

} // namespace

extern "C" int __qex_exception_handler(struct _EXCEPTION_RECORD *record, void *establisher_frame,
                                       struct _CONTEXT *context, struct _DISPATCHER_CONTEXT *dispatcher_context)
{
    void *env = __DBG_InitializeThreadEnv();
    __cnode_exception_info_t *continuation = nullptr;
    if (env)
        continuation = *reinterpret_cast<__cnode_exception_info_t **>(static_cast<unsigned char *>(env) +
                                                                       QEX_DBG_ENV_EXCEPTION_INFO);
    __qex_debug_exception(record, establisher_frame, context, dispatcher_context);

    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND | EXCEPTION_NONCONTINUABLE))
        return ExceptionContinueSearch;
    if (!continuation) return ExceptionContinueSearch;
    if (reinterpret_cast<DWORD64>(continuation->stack_pointer) < context->Rsp) return ExceptionContinueSearch;

    CONTEXT unwound = *context;
    if (unwind_to(unwound, reinterpret_cast<DWORD64>(continuation->stack_pointer))) *context = unwound;
    context->Rip = reinterpret_cast<DWORD64>(continuation->continuation);
    context->Rsp = reinterpret_cast<DWORD64>(continuation->stack_pointer);
    context->Rbp = reinterpret_cast<DWORD64>(continuation->frame_pointer);
    context->Rax = 1;
    return ExceptionContinueExecution;
}

extern "C" int __REL_CleanupExceptHandler(struct _EXCEPTION_RECORD *, void *, struct _CONTEXT *,
                                          struct _DISPATCHER_CONTEXT *)
{
    return ExceptionContinueSearch;
}
