// The Qt side of the application adapter: the host's main widget that the
// library's windows take as their parent. Null when the host gave none.
#pragma once

class QWidget;

namespace zarvik::app {

QWidget* MainWidget();

}  // namespace zarvik::app
