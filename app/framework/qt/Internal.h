// Pieces of the Qt backend shared between its files.
#pragma once

#include "app/framework/Afx.h"
#include "app/framework/Internal.h"

#include <QIcon>

namespace afx {

QIcon IconOf(HICON icon);

} // namespace afx
