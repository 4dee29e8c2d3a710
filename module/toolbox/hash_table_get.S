/* HashTableGetItem: rcx = table, rdx = key, r8 = value buffer, r9 = buffer size.
 *
 * The common lookup, by hand: a present 8-byte fixed key under the table's
 * own hash, a value of at most 32 bytes, every argument good. The key's
 * lookup chain is picked by toolbox::spread8 (hash_table_internal.h).
 * Everything else, errors and absent keys included, jumps with the arguments
 * untouched to hash_table_get_item_checked, which makes every check in order:
 * until the key is found, only rax, r10, r11 and the flags change.
 *
 * Why assembly: a run of independent lookups of a table that does not fit the
 * caches is bounded by how many of them the processor keeps in flight, and
 * that shrinks with every instruction a lookup takes. Compiled, the same path
 * saved three registers and folded its checks through setcc; this one is a
 * leaf that touches no stack and saves no register, so it needs no unwind
 * data.
 *
 * The offsets and constants come from hash_table_layout.h. */
#include "hash_table_layout.h"

/* Copies a value of n bytes (r9), width <= n <= 2 * width, from the entry at
 * rax to the buffer at r8 as its first and last width bytes, and returns 0. */
.macro  copy_ends move, width, first, last
        \move   HASH_ENTRY_VALUE_OFFSET(%rax), \first
        \move   HASH_ENTRY_VALUE_OFFSET-\width(%rax,%r9), \last
        \move   \first, (%r8)
        \move   \last, -\width(%r8,%r9)
        xorl    %eax, %eax
        ret
.endm

        .text
        .globl  HashTableGetItem
        .def    HashTableGetItem; .scl 2; .type 32; .endef
        .p2align 4
HashTableGetItem:
        testq   %rcx, %rcx
        jz      .Lchecked
        testq   %rdx, %rdx
        jz      .Lchecked
        testq   %r8, %r8
        jz      .Lchecked
        cmpl    $HASH_TABLE_MAGIC_VALUE, HASH_TABLE_MAGIC_OFFSET(%rcx)
        jne     .Lchecked
        cmpq    HASH_TABLE_FAST_GATE_OFFSET(%rcx), %r9
        jbe     .Lchecked               /* buffer smaller than the value, or path off */

        movq    (%rdx), %rax            /* spread8: */
        movabsq $HASH_SPREAD_MULTIPLIER, %r11
        imulq   %r11, %rax              /* h = key * HASH_SPREAD_MULTIPLIER */
        movq    %rax, %r10
        shrq    $HASH_SPREAD_SHIFT, %r10
        xorq    %r10, %rax              /* h ^= h >> HASH_SPREAD_SHIFT */
        imulq   %r11, %rax
        shrq    $32, %rax               /* upper half of h * HASH_SPREAD_MULTIPLIER */
        andl    HASH_TABLE_LOOKUP_MASK_OFFSET(%rcx), %eax
        movq    HASH_TABLE_LOOKUP_HEADS_OFFSET(%rcx), %r11
        movq    (%r11,%rax,8), %rax     /* the chain's head */
        testq   %rax, %rax
        jz      .Lchecked
        movq    (%rdx), %r10            /* the wanted key */

        /* Head or successor, by a conditional move: which one holds a
         * random key cannot be predicted, and a mispredicted branch here
         * would discard the lookups started after this one. */
        movq    (%rax), %r11            /* the successor */
        cmpq    %r10, HASH_ENTRY_KEY_OFFSET(%rax)
        cmovneq %r11, %rax
.Lwalk:
        testq   %rax, %rax
        jz      .Lchecked
        cmpq    %r10, HASH_ENTRY_KEY_OFFSET(%rax)
        je      .Lfound
        movq    (%rax), %rax
        jmp     .Lwalk

.Lfound:
        movl    HASH_TABLE_FAST_VALUE_OFFSET(%rcx), %r9d
        cmpl    $16, %r9d
        jb      .Lbelow16
        copy_ends movups, 16, %xmm0, %xmm1  /* 16..32 bytes: first and last 16 */
.Lbelow16:
        cmpl    $8, %r9d
        jb      .Lbelow8
        copy_ends movq, 8, %r10, %r11       /* 8..15 bytes: first and last 8 */
.Lbelow8:
        cmpl    $4, %r9d
        jb      .Lbelow4
        copy_ends movl, 4, %r10d, %r11d     /* 4..7 bytes: first and last 4 */
.Lbelow4:
        movzbl  HASH_ENTRY_VALUE_OFFSET(%rax), %r10d     /* 1..3 bytes: first, middle and last */
        movb    %r10b, (%r8)
        movzbl  HASH_ENTRY_VALUE_OFFSET-1(%rax,%r9), %r10d
        movb    %r10b, -1(%r8,%r9)
        shrl    $1, %r9d
        movzbl  HASH_ENTRY_VALUE_OFFSET(%rax,%r9), %r10d
        movb    %r10b, (%r8,%r9)
        xorl    %eax, %eax
        ret

.Lchecked:
        jmp     hash_table_get_item_checked
