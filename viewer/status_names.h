// The names of the library's status codes, as the viewer shows them on its status line.
#pragma once

#include <string>

#include "ipcam.h"

namespace kestrel {

// "IPCAM_IS_UNCONNECTED" for -12, ...; null for a code without a name. Codes 0 to -16, -30 to
// -33 (ONVIF), -50, -98 and -100 have names.
const char *statusName(int code);

// What a status means to the person watching, in one plain sentence without a full stop
// ("Wrong account or password" for -4). Every named code has one; any other code gets
// "Unexpected answer from the camera". The viewer's status line and the ipcam tool both
// show these beside the code's name.
const char *statusSentence(int code);

// What the device did with the library's last requests (IPCamGetItem's IPCAM_ITEM_REACH):
// "Connection refused: ...", "No answer: ...", slow to answer, ...; empty when it answered.
// A refused port and a silent device both leave the session only "not connected", so these
// say the rest.
const char *reachSentence(int reach);

// What the status line shows for the library's last status: nothing for 0, else the sentence
// with the code's name beside it ("Wrong account or password (IPCAM_USER_OR_PASSWD_IS_ER)"),
// or "Unknow status:%d" for a code without a name. When the reach says more than the code
// (a refused or silent device), its sentence stands in for the code's.
std::string lastStatusText(int code, int reach = IPCAM_REACH_ANSWERED);

}  // namespace kestrel
