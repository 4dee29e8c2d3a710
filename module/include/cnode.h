/* The node module's public records and exports: what the host run-time engine
 * passes to the node and calls by name. */
#pragma once
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A counted byte string of the host: cnt bytes follow without a terminator. */
typedef struct {
    int32_t cnt;
    unsigned char str[1];
} LStr, *LStrPtr, **LStrHandle;

/* The error cluster the host lays out and passes by address (16 bytes). */
typedef struct {
    uint8_t status;  /* non-zero: an error is pending */
    int32_t code;
    void *source;    /* LStrHandle: where the error arose */
} __cnode_gwerror;

/* The per-thread abort record shared with the run-time engine (456 bytes). */
typedef struct {
    unsigned char env[452];  /* the engine's setjmp buffer */
    volatile int32_t flag;   /* 1 while an abort of this thread's node code is requested */
} __cnode_abort_tlv_data_t;

/* Where a call resumes after a hardware exception. */
typedef struct {
    void *continuation;
    void *stack_pointer;
    void *frame_pointer;
} __cnode_exception_info_t;

/* Error codes the frame reports in the cluster. */
enum {
    CNODE_ERR_NO_MEMORY_OR_LOCK = 2,
    CNODE_ERR_NO_MEMORY_MANAGER = 12,
    CNODE_ERR_ABORTED = 1039,
    CNODE_ERR_EXCEPTION = 1138
};

/* The entry point: inputs by value in alphabetical order, then the outputs and
 * the error cluster by address, also alphabetically. */
void __cnode_EntryPoint(void *__cnode_func_instance,
                        int32_t __cnode_func_param_cap, int32_t __cnode_func_param_err_code,
                        int32_t __cnode_func_param_freq, int32_t __cnode_func_param_label,
                        int32_t __cnode_func_param_loss, int32_t __cnode_func_param_samp,
                        int32_t __cnode_func_param_size, int32_t __cnode_func_param_volt,
                        int32_t *__cnode_func_param_cap_indx, int32_t *__cnode_func_param_err_code_indx,
                        int32_t *__cnode_func_param_err_msg_indx, __cnode_gwerror *__cnode_func_param_error,
                        int32_t *__cnode_func_param_freq_indx, int32_t *__cnode_func_param_loss_indx,
                        int32_t *__cnode_func_param_samp_indx, int32_t *__cnode_func_param_unit_indx,
                        int32_t *__cnode_func_param_volt_indx);

typedef void (*__cnode_EntryPoint_t)(void *, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                     int32_t, int32_t *, int32_t *, int32_t *, __cnode_gwerror *, int32_t *,
                                     int32_t *, int32_t *, int32_t *, int32_t *);

int32_t __cnode_reserve_callback(void *instance);
int32_t __cnode_unreserve_callback(void *instance);
int32_t __cnode_abort_callback(void *instance);
typedef int32_t (*__cnode_callback_t)(void *instance);

#ifdef __cplusplus
}
#endif
