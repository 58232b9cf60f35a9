// On Windows the serial layer's events are the system's own, and the window waits on them itself.
#include "app/EventListener.h"

void InstallEventListener() {}
