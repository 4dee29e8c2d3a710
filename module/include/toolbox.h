/* The utility toolbox's containers as node code, the helper runtime and the
 * debugger's interactive window call them:
 *
 *  - ListType: a growable array of fixed-size items, copied in and out by
 *    value, addressed by 1-based positions (LIST_POS_FRONT and LIST_POS_END
 *    name the first and the last item).
 *  - HashTableType: a map from fixed-size or NUL-terminated string keys to
 *    fixed-size values, with separate chaining, power-of-two bucket counts,
 *    growth and optional shrinking, and numbered iterators.
 *
 * Both handles are opaque; every operation checks the handle's tag first and
 * refuses a null or stale handle with its failure result. Neither container
 * locks: one thread at a time per list or table. */
#pragma once
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Compares two items (the caller's first, the container's second): 0 when
 * equal, negative when the first sorts before the second, positive after.
 * Where a null compare function is passed, items are compared byte-wise. */
typedef int (*CompareFunction)(const void *item1, const void *item2);

/* ================================ lists ================================ */

typedef struct ListStructTag *ListType;

/* Position values besides 1..count. */
#define LIST_POS_FRONT (-1) /* the first item; for insertion, before it */
#define LIST_POS_END 0      /* the last item; for insertion, after it */

/* Callbacks of ListApplyToEach / ListApplyToEachEx: called with the item's
 * 1-based index, a pointer to the item and the caller's data; a negative
 * result stops the walk. */
typedef int (*ListApplicationFunc)(int index, void *ptrToItem, void *callbackData);
typedef int (*ListApplicationFuncEx)(size_t index, void *ptrToItem, void *callbackData);

ListType ListCreate(size_t itemSize);
void ListDispose(ListType list);
void ListDisposePtrList(ListType list);
ListType ListCopy(ListType list);

void ListSetAllocationPolicy(ListType list, int minItemsPerAlloc, int percentIncrease);
int ListPreAllocate(ListType list, size_t count);
void ListCompact(ListType list);

size_t ListNumItems(ListType list);
int ListGetItemSize(ListType list);
void *ListGetDataPtr(ListType list);
void *ListGetPtrToItem(ListType list, ptrdiff_t position);
int __QEXToolboxValidateList(ListType list);
int ListEqual(ListType list1, ListType list2);

void ListGetItem(ListType list, void *itemDestination, ptrdiff_t position);
void ListGetItems(ListType list, void *itemsDestination, ptrdiff_t firstPosition, ptrdiff_t count);
void ListReplaceItem(ListType list, const void *ptrToItem, ptrdiff_t position);
void ListReplaceItems(ListType list, const void *ptrToItems, ptrdiff_t firstPosition, ptrdiff_t count);
void ListRemoveItem(ListType list, void *itemDestination, ptrdiff_t position);
void ListRemoveItems(ListType list, void *itemsDestination, ptrdiff_t firstPosition, ptrdiff_t count);

int ListInsertItem(ListType list, const void *ptrToItem, ptrdiff_t position);
int ListInsertItems(ListType list, const void *ptrToItems, ptrdiff_t position, ptrdiff_t count);
int ListInsertAfterItem(ListType list, const void *ptrToItem, const void *ptrToItemToFind,
                        CompareFunction compareFn);
int ListInsertBeforeItem(ListType list, const void *ptrToItem, const void *ptrToItemToFind,
                         CompareFunction compareFn);
int ListAppend(ListType destination, ListType source);

void ListClear(ListType list);
size_t ListFindItem(ListType list, const void *ptrToItem, ptrdiff_t startPosition, CompareFunction compareFn);
size_t ListFindItemInRange(ListType list, const void *ptrToItem, ptrdiff_t startPosition, ptrdiff_t endPosition,
                           CompareFunction compareFn);
void ListRemoveDuplicates(ListType list, CompareFunction compareFn);

int ListApplyToEach(ListType list, int ascending, ListApplicationFunc callback, void *callbackData);
int ListApplyToEachEx(ListType list, int ascending, ListApplicationFuncEx callback, void *callbackData);

/* ============================= hash tables ============================= */

typedef struct HashTableStructTag *HashTableType;

/* Key kinds. */
#define HASH_KEY_FIXED 0   /* keys of a fixed byte size */
#define HASH_KEY_CSTRING 1 /* NUL-terminated strings */

/* Attribute ids of HashTableGetAttribute / HashTableSetAttribute. */
#define HASH_ATTR_NUM_ITEMS 0        /* get: int */
#define HASH_ATTR_NUM_BUCKETS 1      /* get: int */
#define HASH_ATTR_LOAD 2             /* get: double, non-empty buckets / buckets */
#define HASH_ATTR_GROW_THRESHOLD 3   /* get/set: double, 0.5..1.0 or -1.0 (off) */
#define HASH_ATTR_SHRINK_THRESHOLD 4 /* get/set: double, 0.0..0.5 or -1.0 (off) */
#define HASH_ATTR_HASH_FUNCTION 5    /* get/set: HashFunction */
#define HASH_ATTR_BUCKET_SIZES 6     /* get: one int per bucket */

/* Hashes length bytes at key. */
typedef uint32_t (*HashFunction)(const void *key, size_t length);

/* Every operation returns 0 on success (or a documented positive value) and a
 * negative code from -5200 down to -5216, or -5071 when memory runs out. */
int HashTableCreate(int initialSize, int keyKind, size_t keySize, size_t valueSize, HashTableType *table);
int HashTableDispose(HashTableType table);
int HashTableInsertItem(HashTableType table, const void *key, const void *value);
int HashTableGetItem(HashTableType table, const void *key, void *valueBuffer, size_t bufferSize);
int HashTableFindItem(HashTableType table, const void *key, int *found);
int HashTableRemoveItem(HashTableType table, const void *key, void *valueBuffer, size_t bufferSize);
int HashTableClear(HashTableType table);
int HashTableGetAttribute(HashTableType table, int attribute, void *value);
int HashTableSetAttribute(HashTableType table, int attribute, ...);

int HashTableIteratorCreate(HashTableType table, size_t *iterator);
int HashTableIteratorGetItem(HashTableType table, size_t iterator, void *keyBuffer, size_t keyBufferSize,
                             void *valueBuffer, size_t valueBufferSize);
int HashTableIteratorAdvance(HashTableType table, size_t iterator);
int HashTableIteratorDispose(HashTableType table, size_t iterator);

void HashTablePrint(HashTableType table);

/* The lookup3 little-endian hash with the initial value 0xDEADF00D. */
uint32_t Lookup3_hashlittle(const void *key, size_t length);

/* ========================== relocatable handles ========================== */

/* A handle points to a record of the block's address (null while the size is
 * 0) and its size in bytes; *handle is the data. The block may move when the
 * size changes. Handles are registered with the engine's resource tracking. */
typedef void **Handle;

/* A zero-filled block of size bytes behind a new handle; null when memory
 * runs out. */
Handle NewHandle(size_t size);
void DisposeHandle(Handle handle);
size_t GetHandleSize(Handle handle);
/* 1 on success; 0 when memory runs out, the handle keeping its block. Bytes
 * added by growth are zero. */
int SetHandleSize(Handle handle, size_t newSize);

/* ================== list ordering, searching and output ================== */

#include <stdio.h> /* FILE: the engine's streams */

/* The ordering and searching functions take the list's compare function;
 * a null one compares the items' bytes with memcmp over the item size. */
void ListQuickSort(ListType list, CompareFunction compareFn);
void ListHeapSort(ListType list, CompareFunction compareFn);
void ListInsertionSort(ListType list, CompareFunction compareFn);
int ListIsSorted(ListType list, CompareFunction compareFn);
/* 1-based position of an item equal to *ptrToItem in a sorted list, or 0. */
size_t ListBinSearch(ListType list, const void *ptrToItem, CompareFunction compareFn);
/* Inserts before an equal item, else at the first item that sorts after it. */
int ListInsertInOrder(ListType list, const void *ptrToItem, CompareFunction compareFn);

/* Ready-made compare functions: -1, 0 or 1 (the string ones return what
 * strcmp / stricmp return); their items are the values, or pointers to the
 * C strings. Unordered floating-point values compare equal. */
int ShortCompare(const void *item1, const void *item2);
int IntCompare(const void *item1, const void *item2);
int FloatCompare(const void *item1, const void *item2);
int DoubleCompare(const void *item1, const void *item2);
int CStringCompare(const void *item1, const void *item2);
int CStringNoCaseCompare(const void *item1, const void *item2);

/* Prints one item to a stream of the engine; returns the number of
 * characters written, negative on error. */
typedef int (*ListOutputFunction)(FILE *stream, const void *ptrToItem);
int OutputIntegerItem(FILE *stream, const void *ptrToItem);
int OutputShortItem(FILE *stream, const void *ptrToItem);
int OutputDoubleItem(FILE *stream, const void *ptrToItem);
int OutputStringItem(FILE *stream, const void *ptrToItem);
/* Prints a list; a null stream is the engine's standard output. An item
 * prefix, separator or list suffix that contains "%d" is a format for the
 * item's 1-based position (the suffix: the number of items printed). Returns
 * the characters written or the first negative output result. */
int OutputList(ListType list, FILE *stream, const char *listPrefix, const char *listSuffix,
               const char *itemPrefix, const char *itemSeparator, ListOutputFunction outputFn);

/* ============================= integer lists ============================= */

/* Lists of 32-bit ints (ListType, item size 4) from variadic arguments: with
 * numInts above 0 exactly that many ints follow; with 0 the ints run up to the
 * first 0, which is not added. */

/* parmInfo is the first variadic argument slot (slots 8 bytes apart). The new
 * list goes to *list at once; 0 on success, -12 (and a null *list, nothing
 * left allocated) when memory runs out. */
int GetIntListFromParmInfo(void *parmInfo, size_t numInts, ListType *list);
/* The new list, or null when memory runs out. */
ListType BuildIntegerList(size_t numInts, ...);
/* Appends the ints to list (item size 4); 1 on success, 0 on failure with
 * list unchanged. */
int AppendToIntegerList(ListType list, size_t numInts, ...);

/* ============================ files and paths ============================ */

/* Result codes of the file helpers. */
#define TOOLBOX_ERR_OUT_OF_MEMORY (-12)
#define TOOLBOX_ERR_FILE_INFO (-91)      /* the engine's GetFileInfo failed */
#define TOOLBOX_ERR_IO (-93)             /* any other input/output failure */
#define TOOLBOX_ERR_FILE_NOT_FOUND (-94)
#define TOOLBOX_ERR_ACCESS_DENIED (-95)
#define TOOLBOX_ERR_DISK_FULL (-97)      /* also a short write */
#define TOOLBOX_ERR_INVALID_ARGUMENT (-100)
#define TOOLBOX_ERR_NO_TEMP_NAME (-5003) /* 1000 temporary names all in use */
#define TOOLBOX_ERR_TEMP_OPEN (-5004)

/* Files, by path. Streams are the engine's (its fopen). */
int GetFileWritability(const char *path, int *writable);
int CreateAndOpenTemporaryFile(const char *pathName, const char *prefix, const char *extension, const char *mode,
                               char *tempFileName, FILE **file);
void RemoveFileIfExists(const char *path);
int DeleteAndRename(const char *sourcePath, const char *destinationPath);
/* 1 when the file opens for reading, else a negative code; *fileSize gets
 * the size, or -1. */
int FileExists(const char *path, long long *fileSize);

/* Binary streams, read and written from their current position. */
int BinaryFileSize(FILE *stream, size_t *size);
/* 1 found (stream after the match), 0 not found (stream at the end), or a
 * negative code. */
int FindBytesInFile(FILE *stream, const void *bytes, int numBytes, long *bytesSkipped, long *position);
/* A new heap string (free it with the engine's free) of the bytes up to the
 * next NUL, the end of the data or maxBytes (negative: no limit). */
int ReadStringFromBinaryFile(FILE *stream, char **string, int maxBytes, int *endOfFile,
                             int *limitReached);
/* As ReadStringFromBinaryFile, up to and including the next CR LF. */
int ReadLineFromBinaryFile(FILE *stream, char **line, int maxBytes, int *endOfFile, int *limitReached);
int WriteByteToFile(FILE *stream, int byte, int count);
/* Writes the string with every LF written as CR LF. */
int WriteStringToFile(FILE *stream, const char *string);

/* Windows path names: backslash separators, an optional drive "X:". The
 * finders return pointers into their argument; the changers write into the
 * caller's buffer, which must be large enough. */
char *SkipDriveName(const char *path);
int IsAbsolutePath(const char *path);
char *FindFileName(const char *path);
char *FindFileExtension(const char *path);
char *FindFileDotPosition(const char *path);
void ChangeFileNameExtension(const char *fileName, char *newFileName, const char *newExtension);
void ChangeBaseFileName(const char *path, char *newPath, const char *newBaseName);

/* ==== object registry, accelerators, colours and data-text conversion ==== */

/* The process-wide registry of existing objects (no lock: callers that
 * register from several threads serialise the calls). RegisterExistence
 * returns 1, or 0 when memory runs out; a pointer may be recorded twice and
 * is then removed once per DeRegisterExistence. */
int RegisterExistence(void *object);
void DeRegisterExistence(void *object);
int ObjectExists(void *object);

/* Labels mark their accelerator character with two underscores before it.
 * The byte offset of the first such escape code, or -1. */
int AcceleratorEscapeCodeLocation(const char *label);
/* Removes the two underscores of the first escape code in place. */
void RemoveAcceleratorEscapeCode(char *label);

/* Colours: 0xRRGGBB (the top byte is ignored). The index of the closest table
 * entry, the first of equally close ones; -1 for an empty table or a count
 * above 2147483647. */
int FindClosestColorInTable(int color, const int *colorTable, size_t numColors);

/* value rounded away from zero to a multiple of multiple (not 0). */
int RoundToNextMultiple(int value, int multiple);

/* Binary data as printable text: 4 characters '0'..'o' per 3 bytes (3 for a
 * final 2 bytes, 2 for a final byte). Both return 1 and a new block from the
 * engine's malloc (the caller frees it), or 0 and a null out when memory runs
 * out. An empty text gives *numBytes 0 and leaves *data untouched. */
int ConvertDataToText(const void *data, size_t numBytes, char **text);
int ConvertTextToData(const char *text, size_t *numBytes, unsigned char **data);

/* ============= deferred calls, absolute time and byte order ============== */

/* Runs callback(callbackData) on the thread targetThreadId and waits until it
 * has run, or until timeoutMs milliseconds have passed (-1: no time-out; the
 * call still runs later then). On the caller's own thread the call is made
 * directly. Returns -65 for a null callback, -12 when out of memory, else the
 * engine's status of creating the call's lock or of posting it (negative on
 * failure; non-negative also when the wait timed out). The target thread must
 * process events for the call to run. */
typedef void (*DeferredCallbackPtr)(void *callback_data);
int PostDeferredCallToThreadAndWait(DeferredCallbackPtr callback, void *callbackData, int targetThreadId,
                                    int timeoutMs);

#ifndef QEX_ABSOLUTE_TIME_DEFINED
#define QEX_ABSOLUTE_TIME_DEFINED
/* The run-time engine's absolute time, 16 bytes whose inside is the engine's. */
typedef struct {
    uint64_t opaque[2];
} QEXAbsoluteTime;
#endif
struct _FILETIME; /* the Windows FILETIME, from <windows.h> */

/* Conversions between the engine's absolute time and: ANSI time (seconds
 * since 1900-01-01, 0..2^32-1 in a 64-bit value), CNV time (100-ns ticks since
 * 1601-01-01, 0..2^63-1) and FILETIME. 0 on success; -5206 for a null out
 * pointer; -14 for a value out of range; -5027, -104 or -5095 for the engine's
 * other failures. */
int QEXAbsoluteTimeToQEXANSITime(QEXAbsoluteTime absoluteTime, int64_t *ansiTime);
int QEXAbsoluteTimeFromQEXANSITime(int64_t ansiTime, QEXAbsoluteTime *absoluteTime);
int QEXAbsoluteTimeToCNVTime(QEXAbsoluteTime absoluteTime, uint64_t *cnvTime);
int QEXAbsoluteTimeFromCNVTime(uint64_t cnvTime, QEXAbsoluteTime *absoluteTime);
int QEXAbsoluteTimeToFILETIME(QEXAbsoluteTime absoluteTime, struct _FILETIME *fileTime);
int QEXAbsoluteTimeFromFILETIME(struct _FILETIME fileTime, QEXAbsoluteTime *absoluteTime);

/* Byte order of this (little-endian) host. */
int HostIsBigEndian(void);
int HostIsLittleEndian(void);
uint16_t ToOtherEndian16(uint16_t value);
uint32_t ToOtherEndian32(uint32_t value);
uint64_t ToOtherEndian64(uint64_t value);
uint16_t ToLittleEndian16(uint16_t value);
uint32_t ToLittleEndian32(uint32_t value);
uint64_t ToLittleEndian64(uint64_t value);
uint16_t ToBigEndian16(uint16_t value);
uint32_t ToBigEndian32(uint32_t value);
uint64_t ToBigEndian64(uint64_t value);

/* ================================ strings ================================ */

/* NUL-terminated narrow texts in the process code page. While
 * MultiByteCodePage is non-zero a character is one byte or a lead byte with
 * its trail byte, and these functions step by whole characters: no lead byte
 * is split, no trail byte is taken for a separator or a letter. Heap texts
 * come from the engine's malloc/realloc; the caller frees them with free. */

/* Toolbox assertion: when condition is 0, prints "Assert!..." with the
 * message (null: "Programming error detected."), the line and the source
 * name through the engine's printf and ends the program. */
void DoAssert(int condition, const char *source, int line, const char *message);

/* Multibyte-aware character functions. */
unsigned int CmbFirstByteOfChar(unsigned int character);
size_t CmbNumChars(const char *text);
int CmbStrEq(const char *a, const char *b);
int CmbStrEqI(const char *a, const char *b);
int CmbStrEqN(const char *a, const char *b, int count);
int CmbStrEqNI(const char *a, const char *b, int count);
char *CmbStrUpr(char *text);
char *CmbStrLwr(char *text);
int CmbStrByteIs(const char *text, int index, int byte);
char *CmbStrLastChar(const char *text);

/* Heap texts: growing functions return 1, or 0 with the text unchanged when
 * memory ran out. A negative length adds the whole text. */
char *StringEnd(const char *text);
char *StrDup(const char *text);
int AppendString(char **text, const char *add, int length);
int AddStringPrefix(char **text, const char *add, int length);
int AddStringQuotes(char **text);
char *StrDupWithoutSurrWhiteSpace(const char *text);

/* Whitespace is what the engine's isspace accepts, byte by byte. */
char *SkipWhiteSpace(const char *text);
char *SkipNonWhiteSpace(const char *text);
int HasNonWhiteSpace(const char *text);
void RemoveSurroundingWhiteSpace(char *text);

/* Bounded copy and insertion into a buffer of size bytes. */
void StringCopyMax(char *destination, const char *source, int size);
char *StringInsert(char *destination, const char *insert, int size);

/* Case-insensitive comparisons. */
int StrICmp(const char *a, const char *b);
int StrNICmp(const char *a, const char *b, int count);
int StrICmpWithoutSurrWhiteSpace(const char *a, const char *b);

/* Merges two comma-separated lists item by item into a new heap text;
 * 0, or -12 (result null) when memory runs out. */
int SpliceCommaSeparatedList(const char *first, const char *second, char **result);

/* Strict decimal conversions: 1 accepted (the result written), 0 rejected. */
int ParseIntegerString(const char *text, unsigned int *value32, unsigned long long *value64, int *negative);
int StrToInt(const char *text, int *value);
int StrToUInt(const char *text, unsigned int *value);
int StrToLongLong(const char *text, long long *value);
int StrToULongLong(const char *text, unsigned long long *value);

/* Binary digits. The buffers of the ToBinStr functions hold 33 / 65 bytes. */
unsigned int BinStrToUInt(const char *text, int *overflow);
unsigned long long BinStrToULongLong(const char *text, int *overflow);
char *UIntToBinStr(unsigned int value, char *buffer);
char *ULongLongToBinStr(unsigned long long value, char *buffer);

/* ================================ numbers ================================ */

/* Data-type codes of GetDataTypeSize, ConvertArrayType and TransposeData:
 * 0 int8, 1 int32, 2 int16, 3 float, 4 double, 6 uint16, 7 uint32, 8 uint8;
 * 5, 9, 10, 12 and 13 are 8-byte types that are not converted; 11 and codes
 * above 13 are invalid. */

/* Tolerant comparisons: 1e-8 for doubles, 1e-6 for the FP32_ family.
 * Compare gives -1, 0 or 1; the others 1 or 0. */
int FP_Compare(double a, double b);
int FP_EQ(double a, double b);
int FP_GT(double a, double b);
int FP_GE(double a, double b);
int FP_LT(double a, double b);
int FP_LE(double a, double b);
int FP32_Compare(float a, float b);
int FP32_EQ(float a, float b);
int FP32_GT(float a, float b);
int FP32_GE(float a, float b);
int FP32_LT(float a, float b);
int FP32_LE(float a, float b);

/* low when value < low, high when high < value, else value. */
double Pin(double value, double low, double high);

/* A pseudo-random value in [minimum, maximum) from the calling thread's
 * generator; minimum when maximum < minimum. */
double Random(double minimum, double maximum);
/* Restarts the calling thread's generator from seed (0: from the clock). */
void SetRandomSeed(int seed);

double PositiveInfinity(void);
double NegativeInfinity(void);
double NotANumber(void);
int IsNotANumber(double value);
/* 1 for +infinity, -1 for -infinity, else 0. */
int IsInfinity(double value);
int IsFinite(double value);

/* Element size of a data-type code; an invalid code is reported with the
 * toolbox assertion (the program ends) and gives 0. */
int GetDataTypeSize(int dataType);
void ConvertArrayType(const void *sourceArray, int sourceDataType, void *targetArray, int targetDataType,
                      size_t numberOfElements);
/* Rearranges interleaved data of numberOfChannels channels into one block per
 * channel, in place; the first numberOfPoints % numberOfChannels channels
 * hold one element more. */
void TransposeData(void *dataArray, int dataType, size_t numberOfPoints, int numberOfChannels);

/* Exchanges the bytes of two ranges: 8 bytes at a time when both addresses and
 * the count are multiples of 8, else 4 at a time when all three are multiples
 * of 4, else byte by byte. */
void SwapBlock(void *block1, void *block2, size_t numBytes);
/* Sort numElements elements of elementSize bytes in place, ascending by
 * compareFunction (memcmp over the element size when null). HeapSort is not
 * stable; InsertionSort is. */
void HeapSort(void *array, size_t numElements, size_t elementSize, CompareFunction compareFunction);
void InsertionSort(void *array, size_t numElements, size_t elementSize, CompareFunction compareFunction);
/* Index of an element equal to *itemPtr in the sorted array, else -(p + 1)
 * where p is the position at which the item would be inserted; -1 for counts
 * above 2147483647. compareFunction gets the item first, the element second. */
int BinSearch(const void *array, size_t numElements, size_t elementSize, const void *itemPtr,
              CompareFunction compareFunction);

/* Processes events until the engine's Timer has advanced by the given time. */
void DelayWithEventProcessing(double numberOfSeconds);
/* The current local time or date in the user's default format; the number of
 * characters written, 0 when the buffer is too small. */
int InternationalTime(char *timeString, size_t bufferSize);
int InternationalDate(char *dateString, size_t bufferSize);
/* Switches break-on-library-errors on or off; returns the previous setting. */
int SetBOLE(int on);

double Pi(void);
double TwoPi(void);
double HalfPi(void);
double ThreeHalvesPi(void);
double ReciprocalOfPi(void);
double LnOfPi(void);
double Log10OfPi(void);
double Euler(void);
double ReciprocalOfEuler(void);
double Log10OfEuler(void);
double Ln10(void);
double Ln2(void);
double PlanckConstant(void);
double ElementaryCharge(void);
double SpeedOfLight(void);
double GravitationalConstant(void);
double AvogadroConstant(void);
double RydbergConstant(void);
double MolarGasConstant(void);

double DegToRad(double x);
double RadToDeg(double x);
double CelsiusToKelvin(double x);
double KelvinToCelsius(double x);
double CelsiusToFahrenheit(double x);
double FahrenheitToCelsius(double x);
double MetersToFeet(double x);
double FeetToMeters(double x);
double KilometersToMiles(double x);
double MilesToKilometers(double x);
double KilogramsToPounds(double x);
double PoundsToKilograms(double x);
double LitersToGallons(double x);
double GallonsToLiters(double x);

/* ====================== shared globals and start-up ====================== */

/* Two process-wide pointer-sized values, each in a thread-safe variable of
 * the engine. Initialize creates the variable (replacing any earlier handle),
 * Uninitialize discards it; GetPointerTo locks it and returns the value's
 * address (null when the engine gives none) until ReleasePointerTo on the
 * same thread; Set and Get lock for themselves. Statuses are the engine's. */
int InitializeTsvPanelsWithLinkedCallbacksList(void);
int UninitializeTsvPanelsWithLinkedCallbacksList(void);
void **GetPointerToTsvPanelsWithLinkedCallbacksList(void);
int ReleasePointerToTsvPanelsWithLinkedCallbacksList(void);
int SetTsvPanelsWithLinkedCallbacksList(void *value);
void *GetTsvPanelsWithLinkedCallbacksList(void);

int InitializeMsgCBHandlers(void);
int UninitializeMsgCBHandlers(void);
void **GetPointerToMsgCBHandlers(void);
int ReleasePointerToMsgCBHandlers(void);
int SetMsgCBHandlers(void *value);
void *GetMsgCBHandlers(void);

/* The toolbox's start-up entry: returns 0. */
int ToolboxInit(void);

#ifdef __cplusplus
}
#endif
