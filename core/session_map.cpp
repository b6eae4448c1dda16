#include "core/session_map.h"

namespace ipcam {

SessionRegistry &registry() {
    static SessionRegistry *instance = new SessionRegistry;
    return *instance;
}

}  // namespace ipcam
