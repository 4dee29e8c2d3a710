/* Interlocked operations as callable functions: one atomic read-modify-write
 * on the variable at the first argument (rcx), with a full barrier. AND, OR
 * and XOR retry a compare-and-exchange until it succeeds; the others are
 * single locked instructions. Results: the value before the operation, except
 * for increment and decrement, which return the value after it.
 *
 * Written in assembly so that the definitions are the module's own functions
 * rather than the compiler's inline intrinsics of the same names. */
        .text

.macro  leaf name
        .globl  \name
        .def    \name; .scl 2; .type 32; .endef
        .p2align 4
\name:
.endm

/* ---- AND, OR, XOR: rcx = address, edx/rdx = mask ---- */
.macro  cas_loop name, op, width, acc, tmp, mask
        leaf    \name
        mov\width (%rcx), \acc
1:      mov\width \acc, \tmp
        \op\width \mask, \tmp
        lock cmpxchg\width \tmp, (%rcx)
        jne     1b
        ret
.endm

        cas_loop _InterlockedAnd,   and, l, %eax, %r8d, %edx
        cas_loop _InterlockedAnd64, and, q, %rax, %r8,  %rdx
        cas_loop _InterlockedOr,    or,  l, %eax, %r8d, %edx
        cas_loop _InterlockedOr64,  or,  q, %rax, %r8,  %rdx
        cas_loop _InterlockedXor,   xor, l, %eax, %r8d, %edx
        cas_loop _InterlockedXor64, xor, q, %rax, %r8,  %rdx

/* ---- compare-exchange: rcx = address, rdx = exchange, r8 = comparand ---- */
        leaf    _InterlockedCompareExchange
        movl    %r8d, %eax
        lock cmpxchgl %edx, (%rcx)
        ret

        leaf    _InterlockedCompareExchange16
        movw    %r8w, %ax
        lock cmpxchgw %dx, (%rcx)
        ret

        leaf    _InterlockedCompareExchange64
        movq    %r8, %rax
        lock cmpxchgq %rdx, (%rcx)
        ret

        leaf    _InterlockedCompareExchangePointer
        movq    %r8, %rax
        lock cmpxchgq %rdx, (%rcx)
        ret

/* ---- exchange (xchg with memory is always locked): rcx = address, rdx = value ---- */
        leaf    _InterlockedExchange
        movl    %edx, %eax
        xchgl   %eax, (%rcx)
        ret

        leaf    _InterlockedExchange64
        movq    %rdx, %rax
        xchgq   %rax, (%rcx)
        ret

        leaf    _InterlockedExchangePointer
        movq    %rdx, %rax
        xchgq   %rax, (%rcx)
        ret

/* ---- exchange-add: rcx = address, rdx = addend ---- */
        leaf    _InterlockedExchangeAdd
        movl    %edx, %eax
        lock xaddl %eax, (%rcx)
        ret

        leaf    _InterlockedExchangeAdd64
        movq    %rdx, %rax
        lock xaddq %rax, (%rcx)
        ret

/* ---- increment and decrement: rcx = address; the new value ---- */
        leaf    _InterlockedIncrement
        movl    $1, %eax
        lock xaddl %eax, (%rcx)
        incl    %eax
        ret

        leaf    _InterlockedIncrement16
        movw    $1, %ax
        lock xaddw %ax, (%rcx)
        incw    %ax
        ret

        leaf    _InterlockedIncrement64
        movq    $1, %rax
        lock xaddq %rax, (%rcx)
        incq    %rax
        ret

        leaf    _InterlockedDecrement
        movl    $-1, %eax
        lock xaddl %eax, (%rcx)
        decl    %eax
        ret

        leaf    _InterlockedDecrement16
        movw    $-1, %ax
        lock xaddw %ax, (%rcx)
        decw    %ax
        ret

        leaf    _InterlockedDecrement64
        movq    $-1, %rax
        lock xaddq %rax, (%rcx)
        decq    %rax
        ret
