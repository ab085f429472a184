/* ldbusr.h: the active-users library, libldbusr.so.
 *
 * The library tells who holds a database open. It reads the lock-information
 * file that the database engine keeps beside every database ("<database>-lock",
 * laid out in docs/database-files.md) and needs nothing else: no Qt, no SQLite,
 * no engine of ours. The application server loads it by file name and binds
 * LDBUser_GetUsers by name at its first call (dlopen / dlsym), so any library
 * with this entry and these rules can stand in its place.
 *
 * Memory: every block inside an LdbStringArray comes from malloc and goes back
 * through free, on both sides of the call. The helpers below are inline so
 * that the caller and the library share them without one more exported name.
 */
#ifndef OSKARA_LDBUSR_H
#define OSKARA_LDBUSR_H

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A string array that the library may re-dimension and fill.
 *
 * A list is an array of one dimension: `dims` is 1 and `items` holds
 * upper - lower + 1 entries, entry i at items[i - lower]. upper < lower is an
 * array without entries (items may then be NULL). dims 0 means that no storage
 * is allocated (items is NULL). A library may report more dimensions; callers
 * that want a list refuse such an array. Whatever `dims` says, `items` holds
 * upper - lower + 1 entries, so that LDBUser_FreeArray can release it. */
typedef struct LdbStringArray {
  uint16_t dims;  /* number of dimensions; 0: nothing allocated */
  int32_t lower;  /* lower bound (of the first dimension) */
  int32_t upper;  /* upper bound (of the first dimension) */
  char** items;   /* the entries: NUL-terminated 8-bit texts; a NULL entry is the empty text */
} LdbStringArray;

/* The option value that lists the users who hold the database open now. */
#define LDB_OPTION_CURRENT_USERS 2

/* Failure statuses of LDBUser_GetUsers; every failure is negative. */
#define LDB_ERR_ARGUMENT (-1) /* no array, or an empty database file name */
#define LDB_ERR_DATABASE (-2) /* the database file cannot be opened for reading */
#define LDB_ERR_LOCKFILE (-3) /* the lock-information file exists but cannot be read */
#define LDB_ERR_OPTION (-4)   /* an option value the library does not know */
#define LDB_ERR_MEMORY (-5)   /* out of memory */

/* Lists the users of `database` (file name, 8-bit, by value) chosen by
 * `option`, which must be LDB_OPTION_CURRENT_USERS.
 *
 * On success the array is re-dimensioned to 0 .. count - 1, one dimension, and
 * holds one entry per open of the database, in the order of the lock file's
 * user slots: "user@machine", the login name and the host name that the
 * opening process recorded (a holder still writing its names gives an empty
 * entry). Two opens by the same user on the same machine give two equal
 * entries. The result is the number of entries, 0 when nobody has the
 * database open (also when it has no lock-information file yet).
 *
 * On failure the result is one of the negative LDB_ERR_ values and the array
 * is left as it was passed. */
int16_t LDBUser_GetUsers(LdbStringArray* users, const char* database, int option);

/* Releases every entry and the entry block, and leaves the array unallocated
 * (dims 0). Safe on an unallocated array. */
static inline void LDBUser_FreeArray(LdbStringArray* array) {
  int64_t count;
  int64_t i;
  if (array == NULL) return;
  if (array->items != NULL) {
    count = (int64_t)array->upper - array->lower + 1;
    for (i = 0; i < count; ++i) free(array->items[i]);
    free(array->items);
  }
  array->items = NULL;
  array->dims = 0;
  array->lower = 0;
  array->upper = -1;
}

/* Re-dimensions the array to one dimension lower .. upper with every entry
 * empty, releasing what it held. Returns 0, or LDB_ERR_MEMORY with the array
 * left unallocated. */
static inline int LDBUser_Redim(LdbStringArray* array, int32_t lower, int32_t upper) {
  int64_t count = (int64_t)upper - lower + 1;
  LDBUser_FreeArray(array);
  if (count > 0) {
    array->items = (char**)calloc((size_t)count, sizeof(char*));
    if (array->items == NULL) return LDB_ERR_MEMORY;
  }
  array->dims = 1;
  array->lower = lower;
  array->upper = upper;
  return 0;
}

/* Copies `text` into entry `index` (lower .. upper) of a one-dimensional
 * array. Returns 0, LDB_ERR_ARGUMENT for an index outside the bounds, or
 * LDB_ERR_MEMORY. */
static inline int LDBUser_SetItem(LdbStringArray* array, int32_t index, const char* text) {
  size_t size;
  char* copy;
  if (array->dims != 1 || array->items == NULL || index < array->lower || index > array->upper)
    return LDB_ERR_ARGUMENT;
  size = strlen(text) + 1;
  copy = (char*)malloc(size);
  if (copy == NULL) return LDB_ERR_MEMORY;
  memcpy(copy, text, size);
  free(array->items[index - array->lower]);
  array->items[index - array->lower] = copy;
  return 0;
}

#ifdef __cplusplus
}
#endif

#endif /* OSKARA_LDBUSR_H */
