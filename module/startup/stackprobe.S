/* __chkstk, also known as _alloca_probe: the stack probe of the Windows x64
 * calling convention. Given the size of a new stack allocation in rax, it
 * touches every page from the caller's stack pointer down to the allocation's
 * end in order, so that the guard page commits the stack page by page. It
 * does not move the stack pointer (the caller subtracts rax afterwards) and
 * keeps every register but the flags. */
        .text
        .globl  __chkstk
        .def    __chkstk; .scl 2; .type 32; .endef
        .globl  _alloca_probe
        .def    _alloca_probe; .scl 2; .type 32; .endef
        .p2align 4
__chkstk:
_alloca_probe:
        pushq   %r10
        pushq   %r11
        leaq    24(%rsp), %r10          /* the caller's stack pointer */
        movq    %r10, %r11
        subq    %rax, %r11              /* the allocation's lowest address */
        jae     1f
        xorl    %r11d, %r11d            /* a size beyond the address space probes to the bottom */
1:      andq    $-0x1000, %r11          /* its page */
        andq    $-0x1000, %r10          /* the page in use at the call */
3:      cmpq    %r11, %r10
        je      2f
        subq    $0x1000, %r10
        testb   $0, (%r10)              /* touch the next page down */
        jmp     3b
2:      popq    %r11
        popq    %r10
        ret
