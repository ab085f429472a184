// The user-list routine of modGenRoutines: who has a database open, as told
// by the active-users library (common/userlist/ldbusr.h), which is loaded by
// file name and bound by entry name at the first call.
#pragma once

#include <string>

namespace varrick {

// The users of the database `dbPath`: the library's entries, lower to
// upper bound, joined by ";". An empty entry is skipped, and so is one whose
// text already occurs anywhere in the list built so far (PC1 after PC10 adds
// nothing). "" when no entry was taken; "-1" when the library reports a
// failure or cannot be loaded or bound, when it leaves an array that is not
// allocated, not of one dimension, or whose bounds do not fit a 16-bit index
// (an upper bound of 32767 or more, a lower bound below -32768), and on any
// other failure.
std::string GetDbUsers(const std::string& dbPath);

// Where the routine finds the library.
struct UserLibrary {
  // A bare name is looked for next to the running program first, then on
  // the library path (dlopen's own search); a name with a '/' is used as is.
  std::string file = "libldbusr.so";
  std::string entry = "LDBUser_GetUsers";
};

// Binds `library` at the next call instead, dropping the current binding;
// returns the setting it replaces. The seam for tests and their stand-ins.
UserLibrary setUserLibrary(UserLibrary library);

}  // namespace varrick
