/* __DBG_GetExceptionInfo: records where its caller resumes after a hardware
 * exception and returns 0.
 *
 * It has no frame and touches no register but rax, so that resuming at the
 * recorded return address with the recorded stack and frame pointers and
 * rax = 1 looks to the caller like a second return, now with 1. */
        .text
        .globl  __DBG_GetExceptionInfo
        .def    __DBG_GetExceptionInfo; .scl 2; .type 32; .endef
        .p2align 4
__DBG_GetExceptionInfo:                 /* rcx = __cnode_exception_info_t * */
        movq    (%rsp), %rax
        movq    %rax, 0(%rcx)           /* continuation: the return address */
        leaq    8(%rsp), %rax
        movq    %rax, 8(%rcx)           /* stack_pointer: just above the return slot */
        movq    %rbp, 16(%rcx)          /* frame_pointer: the caller's rbp */
        xorl    %eax, %eax
        ret
