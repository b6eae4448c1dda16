#include "platform/message.h"

#include <atomic>
#include <cstdio>

namespace ipcam {

namespace {

void writeToStderr(const char *text, const char *caption) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
}

std::atomic<MessageHandler> g_handler{writeToStderr};

}  // namespace

void setMessageHandler(MessageHandler handler) {
    g_handler = handler ? handler : writeToStderr;
}

void showMessage(const char *text, const char *caption) {
    g_handler.load()(text, caption);
}

}  // namespace ipcam
