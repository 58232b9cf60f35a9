// The headless backend's dialog: its window and controls as data (CDialog::Impl); its timers
// and watches sit on the loop (Loop.h). Internal to the backend.
#pragma once

#include "app/framework/DialogCore.h"
#include "app/framework/headless/Control.h"

#include <memory>
#include <vector>

struct CDialog::Impl {
    struct LoopWatch;
    struct EventWatch;

    std::unique_ptr<afx::headless::Control> window;
    std::vector<std::unique_ptr<afx::headless::Control>> controls;
};
