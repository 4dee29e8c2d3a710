/* setjmp and longjmp of the engine, on a caller-provided buffer of 452 bytes
 * (the env field of a node module's abort record).
 *
 * They are written in assembly because setjmp must capture its caller's own
 * frame: a C wrapper around a C library setjmp would capture the wrapper's
 * frame, which is gone once it returns. The buffer holds the return address,
 * the caller's stack pointer, the callee-saved general registers, xmm6-xmm15,
 * MXCSR and the x87 control word (248 bytes of the 452). longjmp does not
 * unwind: frames between the jump and its target are simply abandoned, as
 * node modules written in C expect. */

        .text

        .globl  standin_setjmp
        .def    standin_setjmp; .scl 2; .type 32; .endef
        .p2align 4
standin_setjmp:                         /* rcx = buffer */
        movq    (%rsp), %rax            /* return address */
        movq    %rax, 0(%rcx)
        leaq    8(%rsp), %rax           /* stack pointer after the return */
        movq    %rax, 8(%rcx)
        movq    %rbx, 16(%rcx)
        movq    %rbp, 24(%rcx)
        movq    %rdi, 32(%rcx)
        movq    %rsi, 40(%rcx)
        movq    %r12, 48(%rcx)
        movq    %r13, 56(%rcx)
        movq    %r14, 64(%rcx)
        movq    %r15, 72(%rcx)
        movdqu  %xmm6, 80(%rcx)
        movdqu  %xmm7, 96(%rcx)
        movdqu  %xmm8, 112(%rcx)
        movdqu  %xmm9, 128(%rcx)
        movdqu  %xmm10, 144(%rcx)
        movdqu  %xmm11, 160(%rcx)
        movdqu  %xmm12, 176(%rcx)
        movdqu  %xmm13, 192(%rcx)
        movdqu  %xmm14, 208(%rcx)
        movdqu  %xmm15, 224(%rcx)
        stmxcsr 240(%rcx)
        fnstcw  244(%rcx)
        xorl    %eax, %eax
        ret

        .globl  standin_longjmp
        .def    standin_longjmp; .scl 2; .type 32; .endef
        .p2align 4
standin_longjmp:                        /* rcx = buffer, edx = value */
        movl    %edx, %eax
        testl   %eax, %eax
        jnz     1f
        movl    $1, %eax                /* setjmp never returns 0 twice */
1:
        movq    16(%rcx), %rbx
        movq    24(%rcx), %rbp
        movq    32(%rcx), %rdi
        movq    40(%rcx), %rsi
        movq    48(%rcx), %r12
        movq    56(%rcx), %r13
        movq    64(%rcx), %r14
        movq    72(%rcx), %r15
        movdqu  80(%rcx), %xmm6
        movdqu  96(%rcx), %xmm7
        movdqu  112(%rcx), %xmm8
        movdqu  128(%rcx), %xmm9
        movdqu  144(%rcx), %xmm10
        movdqu  160(%rcx), %xmm11
        movdqu  176(%rcx), %xmm12
        movdqu  192(%rcx), %xmm13
        movdqu  208(%rcx), %xmm14
        movdqu  224(%rcx), %xmm15
        ldmxcsr 240(%rcx)
        fnclex
        fldcw   244(%rcx)
        movq    8(%rcx), %rsp
        jmpq    *0(%rcx)
