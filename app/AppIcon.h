// The program's icon: a contact card with a person on it (packaging/icons).
#pragma once

#include <QIcon>

namespace contavio {

// Holds a 16 x 16 and a 32 x 32 image.
QIcon appIcon();

}  // namespace contavio
