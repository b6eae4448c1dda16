// kestrel: the live viewer.
#include "viewer/qt_viewer_dialog.h"

int main(int argc, char **argv) { return kestrel::ViewerApp::run(argc, argv); }
