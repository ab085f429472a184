// The files of a queue update as the tool checks them itself, through the
// database engine and as the scan engine opens them: the engine answers a
// failure to open them or to load its options only with "Error at
// InitOptions.", and it reads AR and SO through the DT's links, whatever
// files the caller names.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace oskara::tool {

// Why the scan engine cannot start on these files: the file (DT, AR or SO)
// and its failure with number and text, a DT without an options record, or
// an option field that cannot be loaded. Nothing when all of it works here.
std::optional<std::string> scanStartFailure(const std::string& dt, const std::string& ar,
                                            const std::string& so);

// One warning per AR or SO file given that is not the file the DT's links
// to that database's tables read. Nothing when the DT cannot be opened.
std::vector<std::string> linkWarnings(const std::string& dt, const std::string& ar,
                                      const std::string& so);

}  // namespace oskara::tool
