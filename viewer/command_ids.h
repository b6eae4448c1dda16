// The command and control ids of the viewer's windows. Menu items and buttons carry them, so
// every command is reachable by its id (tests trigger them that way).
#pragma once

namespace kestrel {

// The main window's Operate menu and its commands.
inline constexpr int kCmdSnapshot = 32793;
inline constexpr int kCmdStart = 32794;
inline constexpr int kCmdStop = 32795;
inline constexpr int kCmdInfoShow = 32796;
inline constexpr int kCmdInfoHide = 32797;
inline constexpr int kCmdExit = 32798;
inline constexpr int kCmdSite = 32799;
inline constexpr int kCmdPacketData = 32802;
inline constexpr int kCmdChannelAll = 32804;
inline constexpr int kCmdChannel1 = 32805;   // to 32820 for channel 16
inline constexpr int kCmdPtzControl = 32821;
inline constexpr int kCmdStream1 = 32823;    // to 32838 for stream 16
inline constexpr int kChannelItems = 16, kStreamItems = 16;
inline constexpr int kCmdLowLatency = 32840;
inline constexpr int kCmdWall = 32841;

// The wall's menu: the layouts of 1 to 4 columns, and back to the single view.
inline constexpr int kCmdWallLayout1 = 32842;  // to 32845 for 4x4
inline constexpr int kCmdWallSingleView = 32846;

// The main window's controls.
inline constexpr int kCtlSiteInfo = 1000;
inline constexpr int kCtlStatus = 1001;
inline constexpr int kBtnUp = 1014;
inline constexpr int kBtnDown = 1015;
inline constexpr int kBtnRight = 1016;
inline constexpr int kBtnLeft = 1017;
inline constexpr int kBtnZoomIn = 1018;
inline constexpr int kBtnZoomOut = 1019;
inline constexpr int kBtnOutput1 = 1020;
inline constexpr int kBtnOutput2 = 1021;

// The site list dialog.
inline constexpr int kCtlSiteListBox = 1011;
inline constexpr int kCmdSiteSelect = 32771;
inline constexpr int kCmdSiteNew = 32777;
inline constexpr int kCmdSiteEdit = 32778;
inline constexpr int kCmdSiteDelete = 32779;
inline constexpr int kCmdSiteCopy = 32780;
inline constexpr int kCmdSiteFind = 32781;  // Find cameras (ONVIF discovery)

// The camera search dialog.
inline constexpr int kCmdFindChoose = 32787;
inline constexpr int kCmdFindAgain = 32788;
inline constexpr int kCmdFindCancel = 32789;
inline constexpr int kCtlFindList = 1029;
inline constexpr int kCtlFindProgress = 1030;
inline constexpr int kCtlFindMessage = 1031;

// The site editor dialog.
inline constexpr int kCmdEditorOk = 32785;
inline constexpr int kCmdEditorCancel = 32786;
inline constexpr int kCtlEditorName = 1002;
inline constexpr int kCtlEditorAddress = 1003;
inline constexpr int kCtlEditorPort = 1004;
inline constexpr int kCtlEditorAccount = 1005;
inline constexpr int kCtlEditorPassword = 1006;
inline constexpr int kCtlEditorBig = 1007;
inline constexpr int kCtlEditorMiddle = 1008;
inline constexpr int kCtlEditorSmall = 1009;
inline constexpr int kCtlEditorRotation = 1010;
inline constexpr int kCtlEditorFitToWidth = 1011;
inline constexpr int kCtlEditorStreamList = 1012;
inline constexpr int kCtlEditorStreamSpin = 1013;
inline constexpr int kCtlEditorProtocolList = 1014;
inline constexpr int kCtlEditorProtocolSpin = 1015;
inline constexpr int kCtlEditorAddressProblem = 1028;
inline constexpr int kCtlEditorProfileList = 1032;  // an ONVIF site's media profile
inline constexpr int kCtlEditorProfileRead = 1033;
inline constexpr int kCtlEditorProfileState = 1034;

}  // namespace kestrel
