// The application object of the update client.
#pragma once

#include "platform/app.h"

class CUpdateApp : public CWinApp {
  public:
    CUpdateApp();
    // Loads the settings, starts the socket layer and runs the progress window
    // modally. Always FALSE: the program ends when it returns.
    BOOL InitInstance() override;
};
