// On Linux the window cannot wait on the serial layer's events: the layer tells it of every set.
#include "app/EventListener.h"

#include "app/framework/Afx.h"
#include "serial/comm/linux/EventListener.h"

#include <utility>

void InstallEventListener() {
    AfxSetEventListener([](void* hEvent, std::function<void()> notify) {
        return comm::SetEventListener(hEvent, std::move(notify)) != comm::FALSE;
    });
}
