// Names and short explanations of the library's status codes, as the tool prints them.
#pragma once

#include <string>

namespace ipcam_cli {

// "IPCAM_IS_UNCONNECTED" for -12; "Unknow status:<n>" for a value without a name.
std::string statusName(int status);

// What went wrong in a plain sentence ("Wrong account or password"); empty for success.
const char *statusHint(int status);

// What the device did with the library's requests to learn its kind (IPCamReach), in the
// viewer's words ("Connection refused: ..."); empty when it answered.
const char *reachHint(int reach);

// True for failures that trying again will not mend (an unknown host, a refused account, a
// session that stopped for good): a tool waiting for the first connection gives up on these.
// A device that did not tell its kind may be starting up, so that one is tried again.
bool statusIsFinal(int status);

}  // namespace ipcam_cli
