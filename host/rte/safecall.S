/* standin_capture_resume_point: records where a shielded call resumes after a
 * fault (the caller's return address, its stack pointer after the return and
 * its rbp) and returns 0; the fault handler resumes there with rax = 1. It
 * has no frame and changes no register but rax. */
        .text
        .globl  standin_capture_resume_point
        .def    standin_capture_resume_point; .scl 2; .type 32; .endef
        .p2align 4
standin_capture_resume_point:
        movq    (%rsp), %rax
        movq    %rax, 0(%rcx)
        leaq    8(%rsp), %rax
        movq    %rax, 8(%rcx)
        movq    %rbp, 16(%rcx)
        xorl    %eax, %eax
        ret
