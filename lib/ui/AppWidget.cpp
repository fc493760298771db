#include "AppWidget.h"

#include <QWidget>

#include "library/Application.h"

namespace zarvik::app {

QWidget* MainWidget() { return reinterpret_cast<QWidget*>(Handle()); }

}  // namespace zarvik::app
