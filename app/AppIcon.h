// The program's icon, drawn at start-up: a contact card with a person on it.
#pragma once

#include <QIcon>

namespace contavio {

// Holds a 16 x 16 and a 32 x 32 image.
QIcon appIcon();

}  // namespace contavio
