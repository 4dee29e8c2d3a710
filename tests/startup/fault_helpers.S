/* Helpers of the fault tests, in assembly so that the registers are under
 * the test's control.
 *
 * call_with_registers_set(function, argument, out): loads known values into
 * every non-volatile register (rbx, rsi, rdi, r12 to r15, xmm6 to xmm15),
 * calls function(argument) and stores the registers as they come back into
 * out (ten 8-byte words: rbx, rsi, rdi, r12 to r15, then the low words of
 * xmm6, xmm10 and xmm15), then restores the caller's registers.
 *
 * clobber_and_fault(address): saves the non-volatile registers as a compiled
 * function would (its unwind information says so), overwrites them all, then
 * writes to address. It names the module's exception handler, as a function
 * compiled for debugging does. */
        .text

        .globl  call_with_registers_set
        .def    call_with_registers_set; .scl 2; .type 32; .endef
        .p2align 4
        .seh_proc call_with_registers_set
call_with_registers_set:
        pushq   %rbp
        .seh_pushreg %rbp
        pushq   %rbx
        .seh_pushreg %rbx
        pushq   %rsi
        .seh_pushreg %rsi
        pushq   %rdi
        .seh_pushreg %rdi
        pushq   %r12
        .seh_pushreg %r12
        pushq   %r13
        .seh_pushreg %r13
        pushq   %r14
        .seh_pushreg %r14
        pushq   %r15
        .seh_pushreg %r15
        subq    $232, %rsp              /* 32 home bytes, out, 10 xmm saves, alignment */
        .seh_stackalloc 232
        movdqu  %xmm6, 48(%rsp)
        .seh_savexmm %xmm6, 48
        movdqu  %xmm7, 64(%rsp)
        .seh_savexmm %xmm7, 64
        movdqu  %xmm8, 80(%rsp)
        .seh_savexmm %xmm8, 80
        movdqu  %xmm9, 96(%rsp)
        .seh_savexmm %xmm9, 96
        movdqu  %xmm10, 112(%rsp)
        .seh_savexmm %xmm10, 112
        movdqu  %xmm11, 128(%rsp)
        .seh_savexmm %xmm11, 128
        movdqu  %xmm12, 144(%rsp)
        .seh_savexmm %xmm12, 144
        movdqu  %xmm13, 160(%rsp)
        .seh_savexmm %xmm13, 160
        movdqu  %xmm14, 176(%rsp)
        .seh_savexmm %xmm14, 176
        movdqu  %xmm15, 192(%rsp)
        .seh_savexmm %xmm15, 192
        .seh_endprologue
        movq    %r8, 32(%rsp)           /* out */
        movq    %rcx, %rax
        movq    %rdx, %rcx
        movabsq $0x1111111111111111, %rbx
        movabsq $0x2222222222222222, %rsi
        movabsq $0x3333333333333333, %rdi
        movabsq $0x4444444444444444, %r12
        movabsq $0x5555555555555555, %r13
        movabsq $0x6666666666666666, %r14
        movabsq $0x7777777777777777, %r15
        movabsq $0x0606060606060606, %rdx
        movq    %rdx, %xmm6
        movabsq $0x0707070707070707, %rdx
        movq    %rdx, %xmm7
        movabsq $0x0808080808080808, %rdx
        movq    %rdx, %xmm8
        movabsq $0x0909090909090909, %rdx
        movq    %rdx, %xmm9
        movabsq $0x0a0a0a0a0a0a0a0a, %rdx
        movq    %rdx, %xmm10
        movabsq $0x0b0b0b0b0b0b0b0b, %rdx
        movq    %rdx, %xmm11
        movabsq $0x0c0c0c0c0c0c0c0c, %rdx
        movq    %rdx, %xmm12
        movabsq $0x0d0d0d0d0d0d0d0d, %rdx
        movq    %rdx, %xmm13
        movabsq $0x0e0e0e0e0e0e0e0e, %rdx
        movq    %rdx, %xmm14
        movabsq $0x0f0f0f0f0f0f0f0f, %rdx
        movq    %rdx, %xmm15
        callq   *%rax
        movq    32(%rsp), %r8
        movq    %rbx, 0(%r8)
        movq    %rsi, 8(%r8)
        movq    %rdi, 16(%r8)
        movq    %r12, 24(%r8)
        movq    %r13, 32(%r8)
        movq    %r14, 40(%r8)
        movq    %r15, 48(%r8)
        movq    %xmm6, 56(%r8)
        movq    %xmm10, 64(%r8)
        movq    %xmm15, 72(%r8)
        movdqu  48(%rsp), %xmm6
        movdqu  64(%rsp), %xmm7
        movdqu  80(%rsp), %xmm8
        movdqu  96(%rsp), %xmm9
        movdqu  112(%rsp), %xmm10
        movdqu  128(%rsp), %xmm11
        movdqu  144(%rsp), %xmm12
        movdqu  160(%rsp), %xmm13
        movdqu  176(%rsp), %xmm14
        movdqu  192(%rsp), %xmm15
        addq    $232, %rsp
        popq    %r15
        popq    %r14
        popq    %r13
        popq    %r12
        popq    %rdi
        popq    %rsi
        popq    %rbx
        popq    %rbp
        ret
        .seh_endproc

        .globl  clobber_and_fault
        .def    clobber_and_fault; .scl 2; .type 32; .endef
        .p2align 4
        .seh_proc clobber_and_fault
clobber_and_fault:
        pushq   %rbp
        .seh_pushreg %rbp
        pushq   %rbx
        .seh_pushreg %rbx
        pushq   %rsi
        .seh_pushreg %rsi
        pushq   %rdi
        .seh_pushreg %rdi
        pushq   %r12
        .seh_pushreg %r12
        pushq   %r13
        .seh_pushreg %r13
        pushq   %r14
        .seh_pushreg %r14
        pushq   %r15
        .seh_pushreg %r15
        subq    $72, %rsp
        .seh_stackalloc 72
        movdqu  %xmm6, 0(%rsp)
        .seh_savexmm %xmm6, 0
        movdqu  %xmm10, 16(%rsp)
        .seh_savexmm %xmm10, 16
        movdqu  %xmm15, 32(%rsp)
        .seh_savexmm %xmm15, 32
        .seh_handler __qex_exception_handler, @except
        .seh_endprologue
        movq    $-1, %rbx
        movq    $-1, %rsi
        movq    $-1, %rdi
        movq    $-1, %r12
        movq    $-1, %r13
        movq    $-1, %r14
        movq    $-1, %r15
        movq    $-1, %rbp
        pcmpeqd %xmm6, %xmm6
        pcmpeqd %xmm10, %xmm10
        pcmpeqd %xmm15, %xmm15
        movl    $1, (%rcx)              /* the fault */
        movdqu  0(%rsp), %xmm6
        movdqu  16(%rsp), %xmm10
        movdqu  32(%rsp), %xmm15
        addq    $72, %rsp
        popq    %r15
        popq    %r14
        popq    %r13
        popq    %r12
        popq    %rdi
        popq    %rsi
        popq    %rbx
        popq    %rbp
        ret
        .seh_endproc
