/* The entry frame of the node: __cnode_EntryPoint, the export the run-time
 * engine calls once per execution of the node.
 *
 * It registers the instance and binds the host memory manager (helper
 * runtime), takes over the error cluster (the cluster shows 1138 while the
 * frame runs), copies the terminals into locals, arms the abort jump and the
 * exception continuation, runs the node's text inside the user-code window,
 * and writes the outputs and the cluster back.
 *
 * Everything that must survive a jump back into this frame (the abort longjmp,
 * or a resumption after a hardware exception) lives in volatile locals: after
 * the jump they hold the last values written, never stale register copies.
 *
 * Compiled for debugging: the frame names the module's exception handler in
 * its unwind information (which resumes a faulting call at the continuation
 * armed in step 10), keeps a debug frame in the thread's debug environment
 * from entry to every return, and announces its entry and exit to the
 * debugger (__qex_pharlap_enter and __qex_pharlap_leave, with the debug frame
 * as the call's record). */
#include <string.h>
#include "cnode.h"
#include "cnode_debug.h"
#include "cnode_helper.h"
#include "node_text.h"
#include "qex_rte.h"

namespace {

/* The error cluster's source text as handed to the frame: the handle, and the
 * text grown by a terminator (or null when that could not be done). */
struct SourceText {
    LStrHandle volatile handle;
    const char *volatile text;
};

/* A null source handle is taken as an empty source text. */
const char kEmptySource[] = "";

/* Shrinks the source string back by the terminator the frame added. */
void shrink_source(const SourceText &source)
{
    LStrHandle handle = source.handle;
    const char *text = source.text;
    if (!handle || !text || (*handle)->cnt <= 0) return;
    size_t len = strlen(text);
    __cnode_FreeUserProtection(const_cast<char *>(text));
    if (__cnode_NumericArrayResize(1, 1, &handle, len) == 0) (*handle)->cnt = static_cast<int32_t>(len);
}

} // namespace

extern "C" void __cnode_EntryPoint(void *__cnode_func_instance,
                                   int32_t __cnode_func_param_cap, int32_t __cnode_func_param_err_code,
                                   int32_t __cnode_func_param_freq, int32_t __cnode_func_param_label,
                                   int32_t __cnode_func_param_loss, int32_t __cnode_func_param_samp,
                                   int32_t __cnode_func_param_size, int32_t __cnode_func_param_volt,
                                   int32_t *__cnode_func_param_cap_indx, int32_t *__cnode_func_param_err_code_indx,
                                   int32_t *__cnode_func_param_err_msg_indx,
                                   __cnode_gwerror *__cnode_func_param_error,
                                   int32_t *__cnode_func_param_freq_indx, int32_t *__cnode_func_param_loss_indx,
                                   int32_t *__cnode_func_param_samp_indx, int32_t *__cnode_func_param_unit_indx,
                                   int32_t *__cnode_func_param_volt_indx)
{
    asm(".seh_handler __qex_exception_handler, @except");
    void *const volatile debug_env = __DBG_InitializeThreadEnv();
    __qex_debug_frame_t debug_frame;
    __qex_pharlap_enter(reinterpret_cast<void *>(&__cnode_EntryPoint), &debug_frame);
    __DBG_EnterFunction(debug_env, &debug_frame, __FILE_NAME__);

    __cnode_gwerror *volatile error = __cnode_func_param_error;
    volatile int32_t cnode_error_code;
    volatile uint8_t cnode_error_status;
    SourceText source;
    __cnode_node_locals locals;
    __cnode_abort_tlv_data_t *__cnode_tlv_data = nullptr;
    __cnode_exception_info_t __cnode_exception_info = {};
    __cnode_exception_info_t *volatile __cnode_previous_exception_info = nullptr; /* 1 */

    /* 2: the break behaviour for node code; the previous settings are not kept. */
    __cnode_SetBreakOnLibraryErrors(0);
    __cnode_SetBreakOnProtectionErrors(1);
    __cnode_SetBreakOnFirstChanceExceptions(0);
    __cnode_SetEnableResourceTracking(0);

    /* 3: register the instance, bind the host memory manager. */
    if (!__cnode_helper_initialize(__cnode_func_instance, error)) {
        __qex_pharlap_leave(reinterpret_cast<void *>(&__cnode_EntryPoint), &debug_frame);
        __DBG_LeaveFunction(debug_env, &debug_frame);
        return;
    }

    /* 4: take over the cluster; it reads 1138 until the write-back. */
    cnode_error_code = error->code;
    cnode_error_status = error->status;
    error->code = CNODE_ERR_EXCEPTION;
    error->status = 1;

    /* 5: the source text as a C string. */
    source.handle = static_cast<LStrHandle>(error->source);
    source.text = source.handle ? __cnode_GetCStr(source.handle) : kEmptySource;
    if (!source.text) {
        cnode_error_code = CNODE_ERR_NO_MEMORY_OR_LOCK;
        cnode_error_status = 1;
    }

    /* 6: inputs, then the outputs' incoming values. */
    locals.cap = __cnode_func_param_cap;
    locals.err_code = __cnode_func_param_err_code;
    locals.freq = __cnode_func_param_freq;
    locals.label = __cnode_func_param_label;
    locals.loss = __cnode_func_param_loss;
    locals.samp = __cnode_func_param_samp;
    locals.size = __cnode_func_param_size;
    locals.volt = __cnode_func_param_volt;
    locals.cap_indx = *__cnode_func_param_cap_indx;
    locals.err_code_indx = *__cnode_func_param_err_code_indx;
    locals.err_msg_indx = *__cnode_func_param_err_msg_indx;
    locals.freq_indx = *__cnode_func_param_freq_indx;
    locals.loss_indx = *__cnode_func_param_loss_indx;
    locals.samp_indx = *__cnode_func_param_samp_indx;
    locals.unit_indx = *__cnode_func_param_unit_indx;
    locals.volt_indx = *__cnode_func_param_volt_indx;

    /* 7: an error that came in skips the node's text. */
    if (cnode_error_status) goto end;

    __cnode_SetEnableResourceTracking(1); /* 8 */

    /* 9: the abort jump. An abort check at a stoppoint comes back here with 1. */
    if (__cnode_CmtGetThreadLocalVar(__qex_cnode_abort_tlv_handle, &__cnode_tlv_data) >= 0 && __cnode_tlv_data) {
        if (qex_rte_setjmp(__cnode_tlv_data->env) != 0) {
            cnode_error_code = CNODE_ERR_ABORTED;
            cnode_error_status = 1;
            goto end;
        }
    }

    /* 10: the exception continuation. A fault in the text resumes here with 1. */
    if (__DBG_GetExceptionInfo(&__cnode_exception_info) != 0) {
        cnode_error_code = CNODE_ERR_EXCEPTION;
        cnode_error_status = 1;
        goto end;
    }
    __cnode_previous_exception_info = __DBG_SetExceptionInfo(&__cnode_exception_info); /* 11 */

    /* 12: the node's text inside the user-code window. */
    __cnode_on_begin_user_code(__cnode_func_instance);
    __cnode_node_text(&locals);

end:
    /* 13: end steps, on every path from step 7 on. */
    __cnode_on_end_user_code(__cnode_func_instance);
    __DBG_SetExceptionInfo(__cnode_previous_exception_info);
    __cnode_SetEnableResourceTracking(0);

    /* 14: the outputs, in the order they were read. */
    *__cnode_func_param_cap_indx = locals.cap_indx;
    *__cnode_func_param_err_code_indx = locals.err_code_indx;
    *__cnode_func_param_err_msg_indx = locals.err_msg_indx;
    *__cnode_func_param_freq_indx = locals.freq_indx;
    *__cnode_func_param_loss_indx = locals.loss_indx;
    *__cnode_func_param_samp_indx = locals.samp_indx;
    *__cnode_func_param_unit_indx = locals.unit_indx;
    *__cnode_func_param_volt_indx = locals.volt_indx;

    shrink_source(source); /* 15 */

    /* 16: the cluster, code before status. */
    error->code = cnode_error_code;
    error->status = cnode_error_status;
    __qex_pharlap_leave(reinterpret_cast<void *>(&__cnode_EntryPoint), &debug_frame);
    __DBG_LeaveFunction(debug_env, &debug_frame);
}
