// The window's news of the serial layer's events: handed to the framework at start-up, in the
// way of the platform (linux/ or win32/).
#pragma once

// Tells the framework how it learns that an event it watches was set.
void InstallEventListener();
