#pragma once
// The application object: prepares the common controls and runs the main dialog; when the dialog
// ends, the program ends.

#include "platform/win32/win_app.h"

namespace tessaly {

class CTessaly_App : public CWinApp {
public:
    CTessaly_App();
    BOOL InitInstance() override;
};

}  // namespace tessaly
