// One line on standard output for each thing that happens in the server
// (a client comes or goes, a channel opens or closes, a link ends), with the
// time of day, so that people and scripts can follow it.
#pragma once

#include <string>

namespace qcrtsp {

// "12:04:31.207 <text>", written whole and flushed.
void EventLine(const std::string& text);

}  // namespace qcrtsp
