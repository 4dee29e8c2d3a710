/* __qex_stoppoint: node code calls it before every statement with the address
 * of the statement's breakpoint byte (rcx).
 *
 * It builds no frame and saves no register, so that the common case costs
 * four loads and a return: with the global flag and the byte both zero
 * (tested as their bitwise OR) and both abort counts zero it returns at once.
 * The three tests are folded into one OR of all four values, so the fast path
 * takes a single branch.
 * Otherwise it jumps (does not call) to the implementation with the byte's
 * address and the address of the slot that holds its return address; the
 * implementation then returns straight to the node code.
 *
 * On that slow path the byte's address is also stored in the stub's own home
 * slot (the first of the four words the caller reserves above the return
 * address, which belong to the callee): a debugger that walks a held thread's
 * stack finds there which statement the thread stands at. Only rax, rdx, the
 * flags and that home slot change, all of them the callee's to use. */
        .text
        .globl  __qex_stoppoint
        .def    __qex_stoppoint; .scl 2; .type 32; .endef
        .p2align 4
__qex_stoppoint:
        movzbl  (%rcx), %edx
        movzbl  __qex_global_flag(%rip), %eax
        orl     %edx, %eax              /* the global flag | the statement's byte */
        orl     __qex_cnode_abort_flag(%rip), %eax
        orl     __qex_gw_c_abort_flag(%rip), %eax
        jnz     1f
        ret
1:      movq    %rcx, 8(%rsp)           /* home slot: the statement's byte */
        movq    %rsp, %rdx              /* the slot of the return address */
        jmp     __qex_stoppoint_implementation
