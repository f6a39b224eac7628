#include "serialkit/NativeHandleMutex.h"

namespace serialkit {

NativeHandleMutex& NativeHandleMutex::getInstance() {
    // Initialised once even when several threads ask at the same time.
    static NativeHandleMutex instance;
    return instance;
}

}  // namespace serialkit
