/* What the hash table's assembly get (hash_table_get.S) and its C++ share:
 * the offsets of the record fields and of the entry layout it reads, and the
 * constants of spread8. The C++ side checks the offsets with static_asserts,
 * so a change of the record that moves them fails to compile. Plain defines,
 * since the assembler reads this file too. */
#pragma once

#define HASH_TABLE_MAGIC_OFFSET 0x00
#define HASH_TABLE_BUCKET_COUNT_OFFSET 0x48
#define HASH_TABLE_LOOKUP_HEADS_OFFSET 0x60
#define HASH_TABLE_FAST_VALUE_OFFSET 0x84 /* value size when the fast get applies, else 0 */
#define HASH_TABLE_LOOKUP_MASK_OFFSET 0x88
#define HASH_TABLE_FAST_GATE_OFFSET 0x90 /* a buffer size above it takes the fast get */
#define HASH_TABLE_MAGIC_VALUE 0xDEADBABE

#define HASH_ENTRY_KEY_OFFSET 8 /* an entry: link, key copy, value copy */
#define HASH_ENTRY_VALUE_OFFSET 16 /* for an 8-byte key */

#define HASH_SPREAD_MULTIPLIER 0x9E3779B97F4A7C15
#define HASH_SPREAD_SHIFT 27
