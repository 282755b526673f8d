// The program's icon from its .ico file. Private to the Qt realisation of the runtime.
#pragma once

#include <QImage>
#include <QString>

namespace runtime::qt {

// The 32 x 32 image of an icon file (else its largest), with its transparency. The plain
// bitmap images that icon files hold are decoded here, without an image plugin; anything
// else goes to Qt's image readers.
QImage LoadIcon(const QString& path);

} // namespace runtime::qt
