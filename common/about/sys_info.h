// StartSysInfo: the About dialog's "System Info..." button. It looks up the
// system-information program in the registry file (registry.h) and starts
// it, or tells the person that it is unavailable.
#pragma once

#include <string_view>

namespace oskara::about {

// Where the program is registered. The texts are the system's own.
inline constexpr std::string_view kSysInfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
inline constexpr std::string_view kSysInfoPathValue = "PATH";
inline constexpr std::string_view kSysInfoLocationKey =
    "SOFTWARE\\Microsoft\\Shared Tools Location";
inline constexpr std::string_view kSysInfoLocationValue = "MSINFO";
inline constexpr std::string_view kSysInfoFileName = "\\MSINFO32.EXE";

inline constexpr std::string_view kSysInfoUnavailable =
    "System Information Is Unavailable At This Time";

// Starts the program named by "PATH" under kSysInfoKey as it is; else the
// one whose path is the "MSINFO" folder value under kSysInfoLocationKey
// followed by kSysInfoFileName, when that file exists. Otherwise, or when
// starting fails, shows kSysInfoUnavailable with an OK button under the
// program's name through the current presenter.
void StartSysInfo();

}  // namespace oskara::about
